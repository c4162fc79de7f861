"""The one error the package raises for a file that does not read."""


class KovaFileError(ValueError):
    """A model, extension or result file that does not fit.

    The message names the file, the place in it (line, field, key or record)
    and why it was refused.
    """
