import json
import os
import sys

import six


def describe():
    return {
        "six": six.__version__,
        "six_file": os.path.realpath(six.__file__),
        "prefix": sys.prefix,
    }


def main():
    print(json.dumps(describe(), sort_keys=True))
