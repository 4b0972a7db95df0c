#!/usr/bin/env python3
"""A minimal SNMPv2c device for tests: answers a GET of at most MOST OIDs with an OCTET STRING
per OID ("value of .1.3.6.1.2.1.1.5.0"), and a GET of more with the error status tooBig,
as a device does whose answer would not fit one message. Listens on 127.0.0.1, prints
"listening on PORT" and runs until killed.

Usage: too_big_device.py [--most N]
"""

import argparse
import socket


def read_length(data, at):
    first = data[at]
    if first < 0x80:
        return first, at + 1
    count = first & 0x7F
    return int.from_bytes(data[at + 1:at + 1 + count], "big"), at + 1 + count


def read_tlv(data, at):
    """(tag, value bytes, next position)"""
    tag = data[at]
    length, start = read_length(data, at + 1)
    return tag, data[start:start + length], start + length


def children(data):
    at = 0
    while at < len(data):
        tag, value, at = read_tlv(data, at)
        yield tag, value


def encode(tag, value):
    length = len(value)
    if length < 0x80:
        head = bytes([length])
    else:
        size = (length.bit_length() + 7) // 8
        head = bytes([0x80 | size]) + length.to_bytes(size, "big")
    return bytes([tag]) + head + value


def integer(number):
    return encode(0x02, number.to_bytes(max(1, (number.bit_length() + 8) // 8), "big", signed=True))


def oid_text(oid_bytes):
    arcs, current = [oid_bytes[0] // 40, oid_bytes[0] % 40], 0
    for byte in oid_bytes[1:]:
        current = (current << 7) | (byte & 0x7F)
        if byte < 0x80:
            arcs.append(current)
            current = 0
    return "." + ".".join(str(arc) for arc in arcs)


def answer(request, most):
    _, message, _ = read_tlv(request, 0)
    (_, version), (_, community), (pdu_tag, pdu) = list(children(message))[:3]
    if pdu_tag != 0xA0:
        return None
    fields = list(children(pdu))
    request_id = fields[0][1]
    varbinds = [value for _, value in children(fields[3][1])]
    names = [list(children(varbind))[0][1] for varbind in varbinds]
    if len(names) > most:
        status, bound = 1, b"".join(encode(0x30, encode(0x06, n) + encode(0x05, b"")) for n in names)
    else:
        status = 0
        bound = b"".join(encode(0x30, encode(0x06, n) + encode(0x04, ("value of " + oid_text(n)).encode()))
                         for n in names)
    body = encode(0x02, request_id) + integer(status) + integer(0) + encode(0x30, bound)
    return encode(0x30, encode(0x02, version) + encode(0x04, community) + encode(0xA2, body))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--most", type=int, default=2)
    options = parser.parse_args()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print(f"listening on {sock.getsockname()[1]}", flush=True)
    while True:
        request, sender = sock.recvfrom(65535)
        try:
            reply = answer(request, options.most)
        except (IndexError, ValueError):
            continue  # not a message of ours: no answer, as a device would do
        if reply:
            sock.sendto(reply, sender)


if __name__ == "__main__":
    main()
