// Reads the CSV tables a run writes beside its records (the mass budget, the
// observation wells) line by line. The engine writes them itself, so they are
// read strictly: a comma separates fields, nothing is quoted, every number is
// what %.17g prints. A failure names the file, the line and the column of the
// field it concerns and why the field is refused.
#pragma once

#include <fstream>
#include <string>
#include <vector>

class CCsvTableReader {
public:
    // what names the file in errors ("budget file"). Throws ResultException
    // when the file is missing or not a regular file.
    CCsvTableReader(const std::string& path, const char* what);

    // Reads the next line and splits it; false at the end of the file. A
    // line ending in CR LF counts as ending in LF. A last line without its
    // line feed is not read: the engine ends every row with one, so the line
    // is still being written, or was cut short (a full disk), and even when
    // its fields read as numbers the last of them may be cut.
    bool NextRow();

    const std::string& Path() const { return m_path; }
    int Line() const { return m_line; }
    // After NextRow returned false: "PATH ends inside line L (...), which is
    // left out" for a last line without its line feed, else empty.
    std::string CutLineNotice() const;
    // Throws ResultException when the header cannot be read: "PATH: empty,
    // expected the header LAYOUT", or the header is cut short.
    void ReadHeader(const std::string& layout);
    size_t FieldCount() const { return m_fields.size(); }
    const std::string& Field(size_t f) const { return m_fields[f]; }

    // Throws unless the line has count fields; layout names them.
    void RequireFieldCount(size_t count, const std::string& layout) const;
    // Field f as a number; nan and inf are taken as %.17g prints them.
    double Number(size_t f, const std::string& name) const;
    // Field f as a finite number.
    double Time(size_t f, const std::string& name) const;

    // Throws ResultException: "PATH line L, column C: why", C being the first
    // character of field f.
    [[noreturn]] void Fail(size_t f, const std::string& why) const;
    // Throws ResultException: "PATH line L: why".
    [[noreturn]] void FailLine(const std::string& why) const;

private:
    std::string m_path;
    std::ifstream m_in;
    int m_line = 0;
    int m_cutLine = 0; // the last line, when it has no line feed
    std::vector<std::string> m_fields;
    std::vector<size_t> m_columns; // 1-based column of each field's first character
};

// Whether text reads as a number the way %.17g writes one: decimal digits with
// an optional sign, point and exponent, or nan, -nan, inf, -inf.
bool ParseCsvNumber(const std::string& text, double& value);

// A field as an error shows it: quoted, with control characters as \xHH and
// cut short after 40 characters.
std::string ShownField(const std::string& text);
