import importlib.metadata
import json
import os
import sys

import six


def greet():
    return "hello from a plug-in"


def describe():
    own = importlib.metadata.distribution("embedapp")
    return {
        "six": six.__version__,
        "six_file": os.path.realpath(six.__file__),
        "prefix": sys.prefix,
        "version": importlib.metadata.version("embedapp"),
        "entry_points": sorted([ep.group, ep.name, ep.value] for ep in own.entry_points),
        "plugins": [ep.load()() for ep in importlib.metadata.entry_points(group="embedapp.plugins")],
    }


def main():
    print(json.dumps(describe(), sort_keys=True))
