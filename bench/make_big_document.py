#!/usr/bin/env python3
"""Makes the large real document the benchmarks share.

    make_big_document.py BASE.ps OUT.ps SIZE_MB [CREATOR]

BASE.ps is a DSC document (a PDF from a Debian documentation package run
through pdftops). OUT.ps is its header up to the first page, its pages
repeated (renumbered, "%%Pages:" fixed) until the document is about SIZE_MB
megabytes, and its trailer. With CREATOR, the "%%Creator:" line names it.
Prints the number of pages written.
"""
import re
import sys


def main():
    src, dst, size_mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
    creator = sys.argv[4].encode() if len(sys.argv) > 4 else None
    data = open(src, 'rb').read()
    first = data.index(b'\n%%Page: ') + 1
    trailer = data.rindex(b'\n%%Trailer') + 1
    head, body, tail = data[:first], data[first:trailer], data[trailer:]
    pages = [p for p in re.split(rb'(?m)^(?=%%Page: )', body) if p]
    want = size_mb * 1024 * 1024
    out, total, n = [], len(head) + len(tail), 0
    while total < want:
        for p in pages:
            n += 1
            out.append(re.sub(rb'^%%Page: [^\n]*', b'%%%%Page: %d %d' % (n, n), p, count=1))
            total += len(out[-1])
            if total >= want:
                break
    head = re.sub(rb'(?m)^%%Pages: .*$', b'%%%%Pages: %d' % n, head, count=1)
    if creator:
        head = re.sub(rb'(?m)^%%Creator: .*$', b'%%Creator: ' + creator, head, count=1)
    with open(dst, 'wb') as f:
        f.write(head)
        f.writelines(out)
        f.write(tail)
    print(n)


if __name__ == '__main__':
    main()
