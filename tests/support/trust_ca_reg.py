#!/usr/bin/env python3
"""Writes a .reg file that puts a CA certificate into the machine's Root store
of a Wine prefix, the way CryptoAPI keeps it in the registry: a value "Blob"
of serialized properties (SHA-1 hash, then the DER certificate)."""
import hashlib
import ssl
import struct
import sys

CERT_SHA1_HASH_PROP_ID = 3
CERT_CERT_PROP_ID = 0x20


def prop(prop_id: int, data: bytes) -> bytes:
    return struct.pack("<III", prop_id, 1, len(data)) + data


def main(pem_path: str, reg_path: str) -> None:
    der = ssl.PEM_cert_to_DER_cert(open(pem_path).read())
    sha1 = hashlib.sha1(der).digest()
    blob = prop(CERT_SHA1_HASH_PROP_ID, sha1) + prop(CERT_CERT_PROP_ID, der)
    key = ("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
           + sha1.hex().upper())
    hexed = ",".join(f"{b:02x}" for b in blob)
    with open(reg_path, "w", newline="\r\n") as out:
        out.write("REGEDIT4\n\n[" + key + "]\n\"Blob\"=hex:" + hexed + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
