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
