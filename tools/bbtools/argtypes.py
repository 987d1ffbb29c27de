"""argparse types shared by the tools' command lines."""

import argparse


def positive_int(text):
    """argparse type: a whole number of at least 1."""
    try:
        n = int(text)
    except ValueError:
        n = 0
    if n < 1:
        raise argparse.ArgumentTypeError("%r is not a whole number of at least 1" % text)
    return n


class Help(argparse.ArgumentDefaultsHelpFormatter, argparse.RawDescriptionHelpFormatter):
    """Help with the description as written and each default shown once: an
    option whose help names its default itself, or that has none, gets no
    "(default: ...)" added."""

    def _get_help_string(self, action):
        text = action.help or ""
        if "default" in text or action.default in (None, False, argparse.SUPPRESS):
            return text
        return super()._get_help_string(action)
