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


def mailslot_write(mailslot: str, data: bytes, data_offset: int = 0) -> bytes:
    name = mailslot.encode("ascii") + b"\x00"
    data_offset = data_offset or 32 + 1 + 17 * 2 + 2 + len(name)
    header = b"\xffSMB" + bytes([0x25]) + bytes(27)
    words = struct.pack(
        "<HHHHBBHIHHHHHBBHHH",
        0, len(data), 0, 0, 0, 0, 0, 0, 0, 0, data_offset, len(data), data_offset, 3, 0,
        1, 1, 2)
    return header + bytes([17]) + words + struct.pack("<H", len(name) + len(data)) + name + data


def messenger_datagram(origin: str, recipient: str, text: str, destination: str,
                       kind: int = 0x11, data_offset: int = 0) -> bytes:
    """From\0To\0Text in a write to \\MAILSLOT\\MESSNGR, in a datagram to destination<00>."""
    payload = b"".join(t.encode("cp850", errors="replace") + b"\x00"
                       for t in (origin, recipient, text))
    body = (encode_name("SENDERPC", 0) + encode_name(destination, 0) +
            mailslot_write("\\MAILSLOT\\MESSNGR", payload, data_offset))
    return struct.pack(">BBH4sHHH", kind, 0x02, 0x1234, socket.inet_aton("127.0.0.1"), 138,
                       len(body), 0) + body


def main() -> None:
    p = argparse.ArgumentParser()
    p.add_argument("--to", default="127.0.0.1")
    p.add_argument("--port", type=int, default=138)
    p.add_argument("--group", default="WORKGROUP")
    p.add_argument("--type", type=lambda v: int(v, 0), default=0x11)
    p.add_argument("origin")
    p.add_argument("recipient")
    p.add_argument("text")
    args = p.parse_args()

    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.sendto(messenger_datagram(args.origin, args.recipient, args.text, args.group, args.type),
             (args.to, args.port))


if __name__ == "__main__":
    main()
