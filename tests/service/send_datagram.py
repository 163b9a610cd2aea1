#!/usr/bin/env python3
"""Sends one Messenger broadcast as Windows 'net send *' does: a NetBIOS DIRECT_GROUP datagram to
the workgroup's <00> name carrying an SMB "write mailslot" to \\MAILSLOT\\MESSNGR, with
From\\0To\\0Text in CP850. For tests inside a network namespace only."""
import argparse
import socket
import struct


def encode_name(name: str, suffix: int) -> bytes:
    raw = name.upper().encode("ascii")[:15].ljust(15, b" ") + bytes([suffix])
    letters = bytearray()
    for b in raw:
        letters += bytes([ord("A") + (b >> 4), ord("A") + (b & 0x0F)])
    return bytes([0x20]) + bytes(letters) + b"\x00"


def mailslot_write(mailslot: str, data: bytes) -> bytes:
    name = mailslot.encode("ascii") + b"\x00"
    data_offset = 32 + 1 + 17 * 2 + 2 + len(name)
    header = b"\xffSMB" + bytes([0x25]) + bytes(27)
    words = struct.pack(
        "<HHHHBBHIHHHHHBBHHH",
        0, len(data), 0, 0, 0, 0, 0, 0, 0, 0, data_offset, len(data), data_offset, 3, 0,
        1, 1, 2)
    return header + bytes([17]) + words + struct.pack("<H", len(name) + len(data)) + name + data


def main() -> None:
    p = argparse.ArgumentParser()
    p.add_argument("--type", type=lambda v: int(v, 0), default=0x11)
    p.add_argument("origin")
    p.add_argument("recipient")
    p.add_argument("text")
    args = p.parse_args()

    payload = (args.origin.encode("cp850", errors="replace") + b"\x00" + args.recipient.encode("cp850", errors="replace") + b"\x00" +
               args.text.encode("cp850", errors="replace") + b"\x00")
    user = mailslot_write("\\MAILSLOT\\MESSNGR", payload)
    names = encode_name("SENDERPC", 0) + encode_name("WORKGROUP", 0)
    body = names + user
    header = struct.pack(">BBH4sHHH", args.type, 0x02, 0x1234, socket.inet_aton("127.0.0.1"), 138,
                         len(body), 0)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.sendto(header + body, ("127.0.0.1", 138))


if __name__ == "__main__":
    main()
