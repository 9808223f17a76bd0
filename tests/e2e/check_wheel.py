"""Checks a wheel as an installer would: every member is in RECORD with the right digest and
size, RECORD lists nothing else, and METADATA parses and validates. Prints name and version."""

import base64
import hashlib
import sys
import zipfile

from packaging.metadata import Metadata

with zipfile.ZipFile(sys.argv[1]) as wheel:
    # Directory entries, which some writers add, are no files and have no RECORD line.
    names = [n for n in wheel.namelist() if not n.endswith("/")]
    record = next(n for n in names if n.endswith(".dist-info/RECORD"))
    listed = set()
    for line in wheel.read(record).decode("utf-8").splitlines():
        name, digest, size = line.rsplit(",", 2)
        listed.add(name)
        if name == record:
            assert digest == "" and size == "", line
            continue
        data = wheel.read(name)
        expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
        assert digest == "sha256=" + expected.decode(), f"digest of {name}"
        assert int(size) == len(data), f"size of {name}"
    assert listed == set(names), f"RECORD and members differ: {sorted(listed ^ set(names))}"
    metadata = Metadata.from_email(wheel.read(record[: -len("RECORD")] + "METADATA"))
    print(metadata.name, metadata.version)
