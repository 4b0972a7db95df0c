#!/usr/bin/env python3
"""A minimal SNMPv1/v2c device for tests, whose answers hold at most MOST values: a request
whose answer would hold more gets the error status tooBig, as a device does whose answer
would not fit one message. GET answers an OCTET STRING per OID ("value of
.1.3.6.1.2.1.1.5.0"); GETNEXT and GETBULK walk the table columns given, each with rows
1 to ROWS of the same values. A stuck column (one of them) answers its first row again
after it, not moving forward; the values of a huge column never fit. Every tooBig answer prints a line
"tooBig". Listens on 127.0.0.1, prints "listening on PORT" and runs until killed.

Usage: too_big_device.py [--most N] [--column OID:ROWS]... [--stuck OID] [--huge OID]
"""

import argparse
import bisect
import socket

GET, GETNEXT, RESPONSE, GETBULK = 0xA0, 0xA1, 0xA2, 0xA5
NO_SUCH_NAME, END_OF_MIB_VIEW = 2, 0x82


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


def decode_oid(oid_bytes):
    arcs, current = [oid_bytes[0] // 40, oid_bytes[0] % 40], 0
    for byte in oid_bytes[1:]:
        current = (current << 7) | (byte & 0x7F)
        if byte < 0x80:
            arcs.append(current)
            current = 0
    return tuple(arcs)


def encode_oid(arcs):
    body = bytearray([arcs[0] * 40 + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body.extend(chunk)
    return encode(0x06, bytes(body))


def parse_oid(text):
    return tuple(int(arc) for arc in text.strip(".").split("."))


def text_of(arcs):
    return "." + ".".join(str(arc) for arc in arcs)


def under(root, arcs):
    return len(arcs) > len(root) and arcs[:len(root)] == root


class device:
    def __init__(self, options):
        self.most = options.most
        self.objects = sorted(parse_oid(column) + (row,)
                              for column, rows in (c.rsplit(":", 1) for c in options.column)
                              for row in range(1, int(rows) + 1))
        self.stuck = parse_oid(options.stuck) if options.stuck else None
        self.huge = parse_oid(options.huge) if options.huge else None

    def successor(self, arcs):
        """The object after arcs, or None past the last."""
        if self.stuck and under(self.stuck, arcs) and arcs >= self.stuck + (1,):
            return self.stuck + (1,)
        at = bisect.bisect_right(self.objects, arcs)
        return self.objects[at] if at < len(self.objects) else None

    def walk(self, names, repetitions):
        """The names' successors, row after row, as (OID, whether an object is there): past
        the last object the name stays."""
        found, current = [], names
        for _ in range(repetitions):
            row = [(self.successor(arcs), True) for arcs in current]
            row = [(after, True) if after else (arcs, False) for (after, _), arcs in zip(row, current)]
            found.extend(row)
            current = [arcs for arcs, _ in row]
        return found

    def answer(self, command, names, fields):
        """(error status, error index, [(OID, value, or None for endOfMibView)])"""
        if command == GET:
            found = [(arcs, True) for arcs in names]
        elif command == GETNEXT:
            found = self.walk(names, 1)
            ended = [at for at, (_, present) in enumerate(found) if not present]
            if ended:
                return NO_SUCH_NAME, ended[0] + 1, []
        else:
            found = self.walk(names, int.from_bytes(fields[2][1], "big"))
        if len(found) > self.most or (
                self.huge and any(present and under(self.huge, arcs) for arcs, present in found)):
            print("tooBig", flush=True)
            return 1, 0, []
        return 0, 0, [(arcs, ("value of " + text_of(arcs)).encode() if present else None)
                      for arcs, present in found]


def reply(request, simulated):
    _, message, _ = read_tlv(request, 0)
    (_, version), (_, community), (command, pdu) = list(children(message))[:3]
    if command not in (GET, GETNEXT, GETBULK):
        return None
    fields = list(children(pdu))
    names = [decode_oid(list(children(varbind))[0][1]) for _, varbind in children(fields[3][1])]
    status, index, values = simulated.answer(command, names, fields)
    if status:
        # An error answer echoes the request's names with NULL values.
        bound = b"".join(encode(0x30, encode_oid(arcs) + encode(0x05, b"")) for arcs in names)
    else:
        bound = b"".join(encode(0x30, encode_oid(arcs) + (encode(0x04, value) if value is not None
                                                          else encode(END_OF_MIB_VIEW, b"")))
                         for arcs, value in values)
    body = encode(0x02, fields[0][1]) + integer(status) + integer(index) + encode(0x30, bound)
    return encode(0x30, encode(0x02, version) + encode(0x04, community) + encode(RESPONSE, body))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--most", type=int, default=2)
    parser.add_argument("--column", action="append", default=[])
    parser.add_argument("--stuck")
    parser.add_argument("--huge")
    options = parser.parse_args()
    simulated = device(options)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print(f"listening on {sock.getsockname()[1]}", flush=True)
    while True:
        request, sender = sock.recvfrom(65535)
        try:
            answer = reply(request, simulated)
        except (IndexError, ValueError):
            continue  # not a message of ours: no answer, as a device would do
        if answer:
            sock.sendto(answer, sender)


if __name__ == "__main__":
    main()
