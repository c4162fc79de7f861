#include "io/extension_file.h"

#include "model/exceptions.h"
#include "model/grid.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/number_text.h"
#include "model/simulation.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t NAME_MAX_CHARS = 64;
constexpr size_t LABEL_MAX_CHARS = 40;

// Names of hydraulic slots and of the budget's water rows cannot name an entry.
const char* const RESERVED_NAMES[] = {"head",     "source",   "porosity", "k_row", "k_col",
                                      "flux_row", "flux_col", "water",    "time"};

// The most characters of a value from the file that a message shows: every
// name and label that could serve is shown whole.
constexpr size_t SHOWN_CHARS = 64;

// The budget sums cell area x thickness x porosity x value over the grid. A
// thickness whose volumes stay below this leaves a factor of 10^8 before the
// largest double for the porosities and values they are multiplied with.
constexpr double VOLUME_BOUND = 1e300;

// The code point of the UTF-8 sequence at text[k] and its length; 0 for a
// byte that starts no well-formed sequence (an overlong form included, which
// could hide a control character).
size_t Utf8At(const std::string& text, size_t k, char32_t& code) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(k);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    size_t length = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - k < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(k + i) & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (byte(k + i) & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::string ByteEscape(unsigned value) {
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", value);
    return escaped;
}

// How a message writes a code point: empty when as it is. In quotes a quote
// and a backslash are escaped too, so that the text in quotes is the value.
std::string EscapeOf(char32_t code, bool quoted) {
    if (quoted && (code == '"' || code == '\\'))
        return "\\" + std::string(1, static_cast<char>(code));
    if (code == '\n')
        return "\\n";
    if (code == '\t')
        return "\\t";
    if (code == '\r')
        return "\\r";
    if (code < 0x20 || code == 0x7F)
        return ByteEscape(static_cast<unsigned>(code));
    if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
        return escaped;
    }
    return "";
}

// A text from the file as a message shows it. The detail is one line that
// people read on a terminal and programs split into lines (Python's
// splitlines() breaks at C1 controls and U+2028 too): control and line
// breaking characters are escaped, and a text of more than maxChars
// characters is cut, saying its size. quoted puts a value in quotes; a key,
// or the TOML reader's words that quote the file, go without.
std::string Shown(const std::string& text, bool quoted, size_t maxChars = SHOWN_CHARS) {
    std::string shown = quoted ? "\"" : "";
    size_t k = 0;
    for (size_t chars = 0; k < text.size() && chars < maxChars; ++chars) {
        char32_t code = 0;
        const size_t length = Utf8At(text, k, code);
        if (length == 0) {
            shown += ByteEscape(static_cast<unsigned char>(text[k]));
            ++k;
            continue;
        }
        const std::string escaped = EscapeOf(code, quoted);
        if (escaped.empty())
            shown.append(text, k, length);
        else
            shown += escaped;
        k += length;
    }
    if (quoted)
        shown += '"';
    if (k < text.size())
        shown += "... (" + std::to_string(text.size()) + " bytes)";
    return shown;
}

// A value from the file, in quotes, as every message quotes one.
std::string Quoted(const std::string& text) {
    return Shown(text, true);
}

std::string LineOf(const toml::source_region& where) {
    return "line " + std::to_string(where.begin.line);
}

[[noreturn]] void Fail(const std::string& key, int line, const std::string& why,
                       int64_t order = EXCEPTION_ORDER_UNSET) {
    InputException e("key " + key + " (line " + std::to_string(line) + "): " + why);
    e.SetOrder(order);
    throw e;
}

[[noreturn]] void Fail(const std::string& key, const toml::source_region& where,
                       const std::string& why) {
    Fail(key, static_cast<int>(where.begin.line), why);
}

std::string TypeName(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::table:
        return "a table";
    case toml::node_type::array:
        return "an array";
    case toml::node_type::string:
        return "a string";
    case toml::node_type::integer:
        return "an integer";
    case toml::node_type::floating_point:
        return "a number";
    case toml::node_type::boolean:
        return "a boolean";
    default:
        return "a date or time";
    }
}

[[noreturn]] void FailType(const std::string& key, const toml::node& node, const char* wanted) {
    Fail(key, node.source(), std::string("must be ") + wanted + ", not " + TypeName(node));
}

// Refuses every key of table that is not among known.
void CheckKeys(const toml::table& table, const std::string& prefix,
               std::initializer_list<const char*> known) {
    for (const auto& [key, node] : table) {
        bool found = false;
        std::string list;
        for (const char* k : known) {
            found = found || key.str() == k;
            list += (list.empty() ? "" : ", ") + std::string(k);
        }
        if (!found)
            Fail(prefix + Shown(std::string(key.str()), false), key.source(),
                 "unknown key (known here: " + list + ")");
    }
}

const toml::table& TableAt(const toml::node& node, const std::string& key) {
    if (!node.is_table())
        FailType(key, node, "a table");
    return *node.as_table();
}

std::string StringAt(const toml::node& node, const std::string& key) {
    if (!node.is_string())
        FailType(key, node, "a string");
    return node.as_string()->get();
}

double NumberAt(const toml::node& node, const std::string& key) {
    if (node.is_integer())
        return static_cast<double>(node.as_integer()->get());
    if (!node.is_floating_point())
        FailType(key, node, "a number");
    return node.as_floating_point()->get();
}

int IntegerAt(const toml::node& node, const std::string& key, int count, const char* what) {
    if (!node.is_integer())
        FailType(key, node, "an integer");
    const int64_t value = node.as_integer()->get();
    if (value < 0 || value >= count)
        Fail(key, node.source(),
             std::to_string(value) + " outside 0.." + std::to_string(count - 1) + " (the " + what +
                 " of the model)");
    return static_cast<int>(value);
}

// A string of 1..maxChars characters, each of which fits; what names the
// kind ("a label", "a name") and rule what fits.
template <typename Fits>
std::string CheckedText(const toml::node& node, const std::string& key, size_t maxChars,
                        const char* what, Fits fits, const char* rule) {
    const std::string text = StringAt(node, key);
    if (text.empty() || text.size() > maxChars)
        Fail(key, node.source(),
             std::string(what) + " of 1.." + std::to_string(maxChars) + " characters, not " +
                 Quoted(text));
    for (const char ch : text)
        if (!fits(static_cast<unsigned char>(ch)))
            Fail(key, node.source(), Quoted(text) + " " + rule);
    return text;
}

// A unit label: printable, short, on one line.
std::string LabelAt(const toml::node& node, const std::string& key) {
    return CheckedText(
        node, key, LABEL_MAX_CHARS, "a label",
        [](unsigned char c) { return c >= 0x20 && c != 0x7f && c != ',' && c != '"'; },
        "holds a control character, a comma or a quote");
}

// An entry or well name: letters, digits, '_' and '-'.
std::string NameAt(const toml::node& node, const std::string& key) {
    return CheckedText(
        node, key, NAME_MAX_CHARS, "a name",
        [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '-'; },
        "may hold letters, digits, '_' and '-' only");
}

void ReadUnits(CExtension& ext, const toml::table& table) {
    CheckKeys(table, "units.", {"length", "time", "mass"});
    if (const toml::node* n = table.get("length"))
        ext.m_lengthUnit = LabelAt(*n, "units.length");
    if (const toml::node* n = table.get("time"))
        ext.m_timeUnit = LabelAt(*n, "units.time");
    if (const toml::node* n = table.get("mass"))
        ext.m_massUnit = LabelAt(*n, "units.mass");
}

void ReadAquifer(CExtension& ext, const toml::table& table, const CSimulation& s) {
    CheckKeys(table, "aquifer.", {"thickness"});
    if (const toml::node* n = table.get("thickness")) {
        const double thickness = NumberAt(*n, "aquifer.thickness");
        if (!(thickness > 0.0) || !std::isfinite(thickness))
            Fail("aquifer.thickness", n->source(), "must be a finite number > 0");
        // The model file's reader has made sure that this area is finite.
        const double area = WidestCell(s.m_grid.m_rowCoord.get(), s.m_nRows) *
                            WidestCell(s.m_grid.m_colCoord.get(), s.m_nCols);
        const int64_t nodes = int64_t(s.m_nRows) * s.m_nCols;
        if (!(thickness * area * static_cast<double>(nodes) < VOLUME_BOUND))
            Fail("aquifer.thickness", n->source(),
                 ExactText(thickness) +
                     " is too large for the grid: thickness x the largest cell area (" +
                     ExactText(area) + ") x the " + std::to_string(nodes) +
                     " nodes must stay below 1e300, or the budget's volumes overflow");
        ext.m_thickness = thickness;
    }
}

// A reaction's name: the budget writes it as the last word of the term
// "reaction N NAME", which its readers take as letters, digits and '_'.
std::string ReactionNameAt(const toml::node& node, const std::string& key) {
    return CheckedText(
        node, key, NAME_MAX_CHARS, "a reaction's name",
        [](unsigned char c) { return std::isalnum(c) || c == '_'; },
        "may hold letters, digits and '_' only");
}

void ReadReactions(CExtension& ext, const toml::table& table, const CSimulation& s) {
    CheckKeys(table, "reactions.", {"names"});
    const toml::node* n = table.get("names");
    if (!n)
        return;
    if (!n->is_array())
        FailType("reactions.names", *n, "an array of names");
    const toml::array& list = *n->as_array();
    if (static_cast<int64_t>(list.size()) != s.m_nRxn)
        Fail("reactions.names", n->source(),
             std::to_string(list.size()) + " names for the " + std::to_string(s.m_nRxn) +
                 " reaction records of the model: one name per record, in record order");
    std::vector<std::string> names;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string key = "reactions.names[" + std::to_string(i) + "]";
        const std::string name = ReactionNameAt(list[i], key);
        const auto same = std::find(names.begin(), names.end(), name);
        if (same != names.end())
            Fail(key, list[i].source(),
                 "the name " + Quoted(name) + " is given to reaction " +
                     std::to_string(same - names.begin()) + " already");
        names.push_back(name);
    }
    ext.m_reactionNames = names;
}

void ReadTransportTime(CExtension& ext, const toml::node& n) {
    const std::string name = StringAt(n, "transport.time");
    for (ETransportTime time : {ETransportTime::EXPLICIT, ETransportTime::IMPLICIT}) {
        if (name == TimeName(time)) {
            ext.m_time = time;
            ext.m_timeGiven = true;
            return;
        }
    }
    Fail("transport.time", n.source(), "must be \"explicit\" or \"implicit\"");
}

void ReadTransport(CExtension& ext, const toml::table& table) {
    CheckKeys(table, "transport.", {"scheme", "time"});
    if (const toml::node* n = table.get("time"))
        ReadTransportTime(ext, *n);
    if (const toml::node* n = table.get("scheme")) {
        const std::string name = StringAt(*n, "transport.scheme");
        for (ETransportScheme scheme :
             {ETransportScheme::DEFAULT, ETransportScheme::SYMMETRIC, ETransportScheme::TVD}) {
            if (name == SchemeName(scheme)) {
                ext.m_scheme = scheme;
                ext.m_schemeGiven = true;
                return;
            }
        }
        Fail("transport.scheme", n->source(), "must be \"default\", \"symmetric\" or \"tvd\"");
    }
}

// Refuses a name the results use for a quantity of their own.
void CheckNotReserved(const std::string& name, const std::string& key,
                      const toml::source_region& where) {
    for (const char* reserved : RESERVED_NAMES)
        if (name == reserved)
            Fail(key, where, Quoted(name) + " names a quantity of its own");
}

// The index i when name is the default name prefix_i of one of count
// entries, else -1.
int DefaultIndex(const std::string& name, const std::string& prefix, int count) {
    if (name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && digits.size() > 1) ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int64_t i = std::stoll(digits);
    return i < count ? static_cast<int>(i) : -1;
}

// The default names keep finding their entries beside the given ones, so a
// name given to entry i of kind ("immobile" or "mobile") that is another
// entry's default name would stand for two entries.
void CheckNotAnotherDefault(const std::string& name, const std::string& kind, int i,
                            const CSimulation& s, const std::string& key,
                            const toml::source_region& where) {
    const struct {
        const char* kind;
        int count;
    } kinds[] = {{"immobile", s.m_nImmobile}, {"mobile", s.m_nMobile}};
    for (const auto& other : kinds) {
        const int j = DefaultIndex(name, std::string(other.kind) + "_", other.count);
        if (j >= 0 && (kind != other.kind || j != i))
            Fail(key, where,
                 "the name " + Quoted(name) +
                     " is also the default name of another entry: one name would stand for "
                     "two entries");
    }
}

std::vector<CEntryLabel> ReadEntryList(const toml::node& node, const std::string& kind, int count,
                                       const CSimulation& s, std::set<std::string>& taken) {
    const std::string key = "entries." + kind;
    if (!node.is_array())
        FailType(key, node, "an array of names");
    const toml::array& list = *node.as_array();
    if (static_cast<int64_t>(list.size()) != count)
        Fail(key, node.source(),
             std::to_string(list.size()) + " names for the " + std::to_string(count) +
                 " entries of the model");
    std::vector<CEntryLabel> labels;
    for (size_t i = 0; i < list.size(); ++i) {
        const toml::node& item = list[i];
        const std::string where = key + "[" + std::to_string(i) + "]";
        CEntryLabel label;
        if (item.is_table()) {
            const toml::table& t = *item.as_table();
            CheckKeys(t, where + ".", {"name", "units"});
            const toml::node* name = t.get("name");
            if (!name)
                Fail(where, item.source(), "the entry's table has no name");
            label.m_name = NameAt(*name, where + ".name");
            if (const toml::node* units = t.get("units"))
                label.m_units = LabelAt(*units, where + ".units");
        } else if (item.is_string()) {
            label.m_name = NameAt(item, where);
        } else {
            FailType(where, item, "a name or a table { name = ..., units = ... }");
        }
        CheckNotReserved(label.m_name, where, item.source());
        if (!taken.insert(label.m_name).second)
            Fail(where, item.source(), "the name " + Quoted(label.m_name) + " is given twice");
        CheckNotAnotherDefault(label.m_name, kind, static_cast<int>(i), s, where, item.source());
        labels.push_back(label);
    }
    return labels;
}

void ReadEntries(CExtension& ext, const toml::table& table, const CSimulation& s) {
    CheckKeys(table, "entries.", {"immobile", "mobile"});
    std::set<std::string> taken;
    if (const toml::node* n = table.get("immobile"))
        ext.m_immobile = ReadEntryList(*n, "immobile", s.m_nImmobile, s, taken);
    if (const toml::node* n = table.get("mobile"))
        ext.m_mobile = ReadEntryList(*n, "mobile", s.m_nMobile, s, taken);
}

// Cell extent along one axis: the nodes' cells reach half a width past the
// outer nodes (a single node's cell is 1 wide).
void AxisExtent(const double* coord, int count, double& low, double& high) {
    if (count == 1) {
        low = coord[0] - 0.5;
        high = coord[0] + 0.5;
        return;
    }
    low = coord[0] - 0.5 * (coord[1] - coord[0]);
    high = coord[count - 1] + 0.5 * (coord[count - 1] - coord[count - 2]);
}

// The index of the coordinate nearest to value (the lower on a tie).
int Nearest(const double* coord, int count, double value) {
    int best = 0;
    for (int k = 1; k < count; ++k)
        if (std::fabs(coord[k] - value) < std::fabs(coord[best] - value))
            best = k;
    return best;
}

int SnapCoordinate(const toml::node& node, const std::string& key, const double* coord, int count,
                   const char* axis, double& given) {
    given = NumberAt(node, key);
    double low = 0.0;
    double high = 0.0;
    AxisExtent(coord, count, low, high);
    if (!std::isfinite(given) || given < low || given > high)
        Fail(key, node.source(),
             ExactText(given) + " outside the grid (" + axis + " from " + ExactText(low) + " to " +
                 ExactText(high) + ")");
    return Nearest(coord, count, given);
}

void ReadWellPlace(CObservationWell& well, const toml::table& t, const std::string& where,
                   const CSimulation& s) {
    const bool byIndex = t.contains("row") || t.contains("col");
    const bool byCoord = t.contains("x") || t.contains("y");
    if (byIndex && byCoord)
        Fail(where, t.source(), "give row and col, or x and y, not both");
    if (byIndex) {
        if (!t.contains("row") || !t.contains("col"))
            Fail(where, t.source(), "row and col must both be given");
        well.m_row = IntegerAt(*t.get("row"), where + ".row", s.m_nRows, "rows");
        well.m_col = IntegerAt(*t.get("col"), where + ".col", s.m_nCols, "columns");
        return;
    }
    if (!t.contains("x") || !t.contains("y"))
        Fail(where, t.source(), "the well needs row and col, or x and y");
    // x runs along the columns, y along the rows.
    well.m_col = SnapCoordinate(*t.get("x"), where + ".x", s.m_grid.m_colCoord.get(), s.m_nCols,
                                "x", well.m_x);
    well.m_row = SnapCoordinate(*t.get("y"), where + ".y", s.m_grid.m_rowCoord.get(), s.m_nRows,
                                "y", well.m_y);
    well.m_snapped = true;
}

void ReadWellEntries(CObservationWell& well, const toml::table& t, const std::string& where,
                     const CSimulation& s) {
    const toml::node* n = t.get("entries");
    if (!n) {
        for (int k = SLOT_COUNT; k < s.m_nComp; ++k)
            well.m_entries.push_back(k);
        return;
    }
    if (!n->is_array())
        FailType(where + ".entries", *n, "an array of entry names");
    const toml::array& list = *n->as_array();
    if (list.empty())
        Fail(where + ".entries", n->source(), "names no entry");
    std::set<int> seen;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string key = where + ".entries[" + std::to_string(i) + "]";
        const std::string name = StringAt(list[i], key);
        const int k = FindEntryByName(s.m_ext, s.m_nComp, s.m_nMobile, name);
        if (k < 0)
            Fail(key, list[i].source(), Quoted(name) + " names no entry of the model");
        if (!seen.insert(k).second)
            Fail(key, list[i].source(), Quoted(name) + " is given twice");
        well.m_entries.push_back(k);
    }
}

void ReadObservations(CExtension& ext, const toml::node& node, const CSimulation& s) {
    if (!node.is_array_of_tables())
        FailType("observe", node, "an array of tables ([[observe]])");
    std::set<std::string> names;
    const toml::array& list = *node.as_array();
    for (size_t i = 0; i < list.size(); ++i) {
        const toml::table& t = *list[i].as_table();
        const std::string where = "observe[" + std::to_string(i) + "]";
        CheckKeys(t, where + ".", {"name", "row", "col", "x", "y", "entries"});
        CObservationWell well;
        well.m_line = static_cast<int>(t.source().begin.line);
        const toml::node* name = t.get("name");
        if (!name)
            Fail(where, t.source(), "the well has no name");
        well.m_name = NameAt(*name, where + ".name");
        CheckNotReserved(well.m_name, where + ".name", name->source());
        if (!names.insert(well.m_name).second)
            Fail(where + ".name", name->source(),
                 "the well name " + Quoted(well.m_name) + " is given twice");
        ReadWellPlace(well, t, where, s);
        ReadWellEntries(well, t, where, s);
        ext.m_observe.push_back(well);
    }
}

// One [row, col] of an inject table's nodes list.
CInjectNode InjectNodeAt(const toml::node& item, const std::string& key, const CSimulation& s) {
    if (!item.is_array())
        FailType(key, item, "a node [row, col]");
    const toml::array& pair = *item.as_array();
    if (pair.size() != 2)
        Fail(key, item.source(),
             "a node is [row, col], not " + std::to_string(pair.size()) + " numbers");
    CInjectNode node;
    node.m_row = IntegerAt(pair[0], key + "[0]", s.m_nRows, "rows");
    node.m_col = IntegerAt(pair[1], key + "[1]", s.m_nCols, "columns");
    node.m_line = static_cast<int>(item.source().begin.line);
    return node;
}

void ReadInjectNodes(CInjectTable& table, const toml::node& node, const std::string& key,
                     const CSimulation& s) {
    if (!node.is_array())
        FailType(key, node, "an array of nodes [[row, col], ...]");
    const toml::array& list = *node.as_array();
    if (list.empty())
        Fail(key, node.source(), "names no node");
    for (size_t p = 0; p < list.size(); ++p)
        table.m_nodes.push_back(InjectNodeAt(list[p], key + "[" + std::to_string(p) + "]", s));
}

void ReadInjectRectangle(CInjectTable& table, const toml::node& node, const std::string& key,
                         const CSimulation& s) {
    if (!node.is_array())
        FailType(key, node, "an array [first_row, first_col, last_row, last_col]");
    const toml::array& corners = *node.as_array();
    if (corners.size() != 4)
        Fail(key, node.source(),
             "a rectangle is [first_row, first_col, last_row, last_col], not " +
                 std::to_string(corners.size()) + " numbers");
    table.m_rectangle = true;
    table.m_firstRow = IntegerAt(corners[0], key + "[0]", s.m_nRows, "rows");
    table.m_firstCol = IntegerAt(corners[1], key + "[1]", s.m_nCols, "columns");
    table.m_lastRow = IntegerAt(corners[2], key + "[2]", s.m_nRows, "rows");
    table.m_lastCol = IntegerAt(corners[3], key + "[3]", s.m_nCols, "columns");
    if (table.m_firstRow > table.m_lastRow)
        Fail(key, node.source(),
             "the first row " + std::to_string(table.m_firstRow) + " is after the last row " +
                 std::to_string(table.m_lastRow));
    if (table.m_firstCol > table.m_lastCol)
        Fail(key, node.source(),
             "the first column " + std::to_string(table.m_firstCol) + " is after the last column " +
                 std::to_string(table.m_lastCol));
}

// The nodes of table t as node indices, in the order given (a rectangle row
// by row).
std::vector<int> InjectTableNodes(const CInjectTable& table, const CSimulation& s) {
    std::vector<int> nodes;
    if (!table.m_rectangle) {
        for (const CInjectNode& node : table.m_nodes)
            nodes.push_back(node.m_row * s.m_nCols + node.m_col);
        return nodes;
    }
    for (int i = table.m_firstRow; i <= table.m_lastRow; ++i)
        for (int j = table.m_firstCol; j <= table.m_lastCol; ++j)
            nodes.push_back(i * s.m_nCols + j);
    return nodes;
}

// Injected water enters with the water the model's source brings: a node
// whose source takes water out or brings none cannot receive it. The source
// of a fixed-head node comes from the heads; the run checks it once they are
// computed.
void CheckInjectSources(const CInjectTable& table, int t, const CSimulation& s) {
    const std::vector<int> nodes = InjectTableNodes(table, s);
    for (size_t p = 0; p < nodes.size(); ++p) {
        const int n = nodes[p];
        if (s.m_grid.m_nodeType[ToSize(n)] == NODE_HEAD || !s.Holds(n))
            continue;
        const double source = s.m_stateNew[ToSize(n * s.m_nComp + SLOT_SOURCE)];
        if (source > 0.0)
            continue;
        int line = 0;
        const std::string key = InjectPlaceKey(table, t, p, &line);
        // A process that holds some nodes checks those: the first table's
        // first node wins, as in a one-process run.
        Fail(key, line,
             "node (" + std::to_string(n / s.m_nCols) + ", " + std::to_string(n % s.m_nCols) +
                 ") has the source " + ExactText(source) +
                 ", not a positive one: injected water enters only where the source brings "
                 "water in",
             (int64_t(t) << 32) + int64_t(p));
    }
}

// concentration = { ENTRY = value, ... }: mobile entries only, each once.
std::vector<std::pair<int, double>>
ReadInjectConcentration(const toml::node& node, const std::string& key, const CSimulation& s) {
    if (!node.is_table())
        FailType(key, node, "a table { ENTRY = value, ... }");
    const toml::table& values = *node.as_table();
    if (values.empty())
        Fail(key, node.source(), "names no entry");
    const int firstMobile = s.m_nComp - s.m_nMobile;
    std::vector<std::pair<int, double>> given;
    for (const auto& [name, value] : values) {
        const std::string text(name.str());
        const std::string where = key + "." + Shown(text, false);
        const int k = FindEntryByName(s.m_ext, s.m_nComp, s.m_nMobile, text);
        if (k < 0)
            Fail(where, name.source(), Quoted(text) + " names no entry of the model");
        if (k < firstMobile)
            Fail(where, name.source(),
                 Quoted(text) + " is " + (k < SLOT_COUNT ? "a hydraulic" : "an immobile") +
                     " entry: the water carries mobile entries only");
        for (const auto& [other, ignored] : given)
            if (other == k)
                Fail(where, name.source(),
                     Quoted(text) + " names the entry " +
                         EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k) + " a second time");
        const double c = NumberAt(value, where);
        if (!(c >= 0.0) || !std::isfinite(c))
            Fail(where, value.source(), "must be a finite number >= 0, not " + ExactText(c));
        given.emplace_back(k, c);
    }
    return given;
}

CInjectTable ReadInjectTable(const toml::table& t, int i, const CSimulation& s,
                             std::set<std::string>& names,
                             std::vector<std::pair<int, double>>& given) {
    const std::string where = InjectTableKey(i);
    CheckKeys(t, where + ".", {"name", "nodes", "rectangle", "concentration"});
    CInjectTable table;
    table.m_line = static_cast<int>(t.source().begin.line);
    if (const toml::node* name = t.get("name")) {
        table.m_name = NameAt(*name, where + ".name");
        if (!names.insert(table.m_name).second)
            Fail(where + ".name", name->source(),
                 "the name " + Quoted(table.m_name) + " is given to two inject tables");
    }
    const toml::node* nodes = t.get("nodes");
    const toml::node* rectangle = t.get("rectangle");
    if (nodes && rectangle)
        Fail(where, t.source(), "give nodes or rectangle, not both");
    if (!nodes && !rectangle)
        Fail(where, t.source(),
             "the table needs nodes = [[row, col], ...] or rectangle = [first_row, first_col, "
             "last_row, last_col]");
    if (nodes)
        ReadInjectNodes(table, *nodes, where + ".nodes", s);
    else
        ReadInjectRectangle(table, *rectangle, where + ".rectangle", s);
    table.m_placeLine = static_cast<int>((nodes ? nodes : rectangle)->source().begin.line);
    const toml::node* concentration = t.get("concentration");
    if (!concentration)
        Fail(where, t.source(), "the table has no concentration");
    given = ReadInjectConcentration(*concentration, where + ".concentration", s);
    for (const auto& [k, c] : given)
        table.m_named.push_back(k);
    CheckInjectSources(table, i, s);
    return table;
}

// The injected nodes in ascending order, each with its table; a node that
// two places name is refused at the later one.
void SortInjectedNodes(CInjection& inject, const CSimulation& s) {
    // node, table, place in the table (a rectangle's nodes row by row)
    std::vector<std::tuple<int, int, int>> places;
    for (size_t t = 0; t < inject.m_tables.size(); ++t) {
        const std::vector<int> nodes = InjectTableNodes(inject.m_tables[t], s);
        for (size_t p = 0; p < nodes.size(); ++p)
            places.emplace_back(nodes[p], static_cast<int>(t), static_cast<int>(p));
    }
    std::sort(places.begin(), places.end());
    for (size_t q = 0; q < places.size(); ++q) {
        const auto [n, t, p] = places[q];
        if (q > 0 && std::get<0>(places[q - 1]) == n) {
            const auto [ignored, firstTable, firstPlace] = places[q - 1];
            int line = 0;
            int firstLine = 0;
            const std::string key = InjectPlaceKey(inject.m_tables[ToSize(t)], t, ToSize(p), &line);
            const std::string first = InjectPlaceKey(inject.m_tables[ToSize(firstTable)],
                                                     firstTable, ToSize(firstPlace), &firstLine);
            Fail(key, line,
                 "node (" + std::to_string(n / s.m_nCols) + ", " + std::to_string(n % s.m_nCols) +
                     ") is listed twice: also by " + first + " (line " + std::to_string(firstLine) +
                     ")");
        }
        inject.m_nodes.push_back(n);
        inject.m_nodeTable.push_back(t);
    }
}

void ReadInjection(CInjection& inject, const toml::node& node, const CSimulation& s) {
    if (!node.is_array_of_tables())
        FailType("inject", node, "an array of tables ([[inject]])");
    const toml::array& list = *node.as_array();
    std::set<std::string> names;
    std::vector<std::vector<std::pair<int, double>>> given(list.size());
    std::set<int> entries;
    for (size_t i = 0; i < list.size(); ++i) {
        inject.m_tables.push_back(
            ReadInjectTable(*list[i].as_table(), static_cast<int>(i), s, names, given[i]));
        for (const auto& [k, c] : given[i])
            entries.insert(k);
    }
    inject.m_entries.assign(entries.begin(), entries.end());
    for (size_t i = 0; i < list.size(); ++i) {
        std::vector<double>& row = inject.m_tables[i].m_concentration;
        row.assign(inject.m_entries.size(), 0.0);
        for (const auto& [k, c] : given[i])
            row[ToSize(InjectColumn(inject, k))] = c;
    }
    SortInjectedNodes(inject, s);
}

// "every record", "every N records" (N from 1) or "none".
void ReadCheckpoint(CExtension& ext, const toml::node& node) {
    const toml::node* n = &node;
    const std::string text = StringAt(*n, "output.checkpoint");
    const std::string every = "every ";
    const std::string records = " records";
    if (text == "none") {
        ext.m_checkpointEvery = 0;
        return;
    }
    if (text == "every record") {
        ext.m_checkpointEvery = 1;
        return;
    }
    if (text.size() > every.size() + records.size() && text.compare(0, every.size(), every) == 0 &&
        text.compare(text.size() - records.size(), records.size(), records) == 0) {
        const std::string digits =
            text.substr(every.size(), text.size() - every.size() - records.size());
        if (digits.size() <= 9 && digits[0] != '0' &&
            digits.find_first_not_of("0123456789") == std::string::npos) {
            ext.m_checkpointEvery = std::stoi(digits);
            return;
        }
    }
    Fail("output.checkpoint", n->source(),
         "must be \"every record\", \"every N records\" (N a whole number from 1 to "
         "999999999) or \"none\", not " +
             Quoted(text));
}

// output.times: ascending record times after the start, at most the end.
void ReadRecordTimes(CExtension& ext, const toml::node& node, const CSimulation& s) {
    const toml::array* list = node.as_array();
    if (!list)
        FailType("output.times", node, "an array of times");
    if (list->empty())
        Fail("output.times", node.source(), "must name at least one time");
    double before = s.m_settings.m_startTime;
    for (size_t i = 0; i < list->size(); ++i) {
        const std::string key = "output.times[" + std::to_string(i) + "]";
        const toml::node& element = *list->get(i);
        const double t = NumberAt(element, key);
        if (!std::isfinite(t) || !(t > before) || t > s.m_settings.m_endTime)
            Fail(key, element.source(),
                 ExactText(t) + " is not a time after " +
                     (i == 0 ? "the start time " : "the time before it, ") + ExactText(before) +
                     " and at most the end time " + ExactText(s.m_settings.m_endTime));
        ext.m_recordTimes.push_back(t);
        before = t;
    }
    ext.m_exactRecords = true;
}

void ReadOutput(CExtension& ext, const toml::table& table, const CSimulation& s) {
    CheckKeys(table, "output.", {"checkpoint", "exact", "times"});
    if (const toml::node* n = table.get("exact")) {
        if (!n->is_boolean())
            FailType("output.exact", *n, "true or false");
        if (table.get("times"))
            Fail("output.exact", n->source(),
                 "goes with the output interval; output.times are exact times of their own");
        ext.m_exactRecords = n->as_boolean()->get();
    }
    if (const toml::node* n = table.get("times"))
        ReadRecordTimes(ext, *n, s);
    if (const toml::node* n = table.get("checkpoint"))
        ReadCheckpoint(ext, *n);
}

void ReadTables(CSimulation& s, const toml::table& root) {
    CheckKeys(
        root, "",
        {"units", "aquifer", "entries", "observe", "transport", "inject", "reactions", "output"});
    CExtension ext;
    if (const toml::node* n = root.get("units"))
        ReadUnits(ext, TableAt(*n, "units"));
    if (const toml::node* n = root.get("aquifer"))
        ReadAquifer(ext, TableAt(*n, "aquifer"), s);
    if (const toml::node* n = root.get("entries"))
        ReadEntries(ext, TableAt(*n, "entries"), s);
    if (const toml::node* n = root.get("transport"))
        ReadTransport(ext, TableAt(*n, "transport"));
    if (const toml::node* n = root.get("reactions"))
        ReadReactions(ext, TableAt(*n, "reactions"), s);
    if (const toml::node* n = root.get("output"))
        ReadOutput(ext, TableAt(*n, "output"), s);
    // The wells name entries by the names just read.
    s.m_ext = ext;
    if (const toml::node* n = root.get("observe"))
        ReadObservations(s.m_ext, *n, s);
    if (const toml::node* n = root.get("inject"))
        ReadInjection(s.m_ext.m_inject, *n, s);
}

} // namespace

std::string ExtensionFileName(const std::string& base) {
    return base + ".kvx";
}

void ReadExtension(CSimulation& s, const std::string& text, const std::string& source) {
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        // The reader's words are short, but may quote characters of the file.
        throw InputException(
            "not a TOML file: " + Shown(std::string(e.description()), false, std::string::npos) +
            " (" + LineOf(e.source()) + ")");
    }
    ReadTables(s, root);
    s.m_ext.m_file = source;
}

void LoadExtension(CSimulation& s, const std::string& base) {
    const std::string path = ExtensionFileName(base);
    struct stat info;
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT)
        return;
    try {
        // Never blocks on a FIFO; only a regular file is read.
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw BadFileException(std::string("Bad File: the extension file cannot be read: ") +
                                   std::strerror(errno));
        const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        close(fd);
        if (!regular)
            throw InputException("the extension file is not a regular file");
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (in.bad())
            throw BadFileException("Bad File: the extension file cannot be read");
        ReadExtension(s, text.str(), path);
    } catch (Exception& e) {
        e.AddWhere("(file " + path + ")");
        throw;
    }
}
