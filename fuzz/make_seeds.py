#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the typed-number tables, the worked dialogues and the edge
cases of the text rules and the dialogue. Each file is named after its
content's hash, as libFuzzer names what it adds; run again after editing.
"""
import hashlib
import os
import shutil
import struct
from fractions import Fraction

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, seeds):
    directory = os.path.join(HERE, "corpus", target)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()
        with open(os.path.join(directory, name), "wb") as f:
            f.write(seed)


# Reading targets: a flag byte (bit 0: 0x1A ends input, bit 1: read a
# sequence of answers, bits 2..7: repeat the body 1..64 times), then the body.
def reading(body, ctrl_z=True, sequence=True, repeat=1):
    flags = (1 if ctrl_z else 0) | (2 if sequence else 0) | ((repeat - 1) << 2)
    return bytes([flags]) + body


integers = [
    reading(b"007\n$10\nx10\nX10\n0x10\n0X10\n-$10\n$FFFFFFFF\n2147483647\n-2147483648\n"),
    reading(b"$80000000\n-$FFFFFFFF\n$aBc\n+7\n"),
    reading(b"2147483648\n"),
    reading(b"-2147483649\n"),
    reading(b"1.5\n"),
    reading(b"12a\n"),
    reading(b"1,000\n"),
    reading(b"+-5\n"),
    reading(b"0x\n"),
    reading(b"$123456789\n"),
    reading(b"0" * 32 + b"1\n7\n"),
    reading(b"\n\n  \n42\n"),
    reading(b"12 34\n56\n"),
    reading(b"5\r\n6\r\n"),
    reading(b"\x01\x02\t\x0b\x0c\r 9\n"),
    reading(b"12\x1a34\n"),
    reading(b"12\x1a34\n", ctrl_z=False),
    reading(b"9", sequence=False, repeat=40),
    reading(b" ", sequence=False, repeat=64) + b"12345",
    reading(b""),
]

reals = [
    reading(b"0.3\n0.1\n5.\n.\n1E-2\n.5\ne5\n-0\n+.e-3\n"),
    reading(b"1,5\n"),
    reading(b"1e\n"),
    reading(b"+\n"),
    reading(b"1.2.3\n"),
    reading(b"0.0625\n0.0045\n5e-7\n0.0123456789\n0.9995\n0.6666666666666666666666\n-0.0001\n"),
    reading(b"1e4932\n1.18973149535723176502e4932\n1e-4950\n3.6e-4951\n1e-5119\n"),
    reading(b"1e5000\n"),
    reading(b"1e5120\n-1e5120\n1e-5120\n0e6000\n"),
    reading(b"0.000000000000000000000000000001e5150\n"),
    reading(b"12345678901234567890123456789012345678901234567890123456789012345\n"),
    reading(b"1234567890123456789.5\n99999999999999999999\n"),
    reading(b"1e999999999999999999999999\n"),
    reading(b"0.3\x1a0.4\n"),
    reading(b"7", sequence=False, repeat=64),
]

lines = [
    reading(b"run1.txt\n"),
    reading(b"run1.txt\r\nrest\n"),
    reading(b"a\rb\r\n\r\n\n"),
    reading(b"\x1aabc\nnext\n"),
    reading(b"\x1aabc\n", ctrl_z=False),
    reading(b"name with spaces\tand a tab \n"),
    reading(b""),
    reading(b"a" * 64, repeat=64),
    reading(b"a" * 65, repeat=64),
    reading(b"a" * 64 + b"\r", repeat=64),
]


# An extended value, rounded to nearest with ties to even, as ten bytes.
def extended(value):
    if value == "nan":
        return struct.pack("<QH", 0xC000000000000000, 0x7FFF)
    if value in ("inf", "-inf"):
        return struct.pack("<QH", 0x8000000000000000, 0x7FFF | (0x8000 if value[0] == "-" else 0))
    if isinstance(value, str) and value.startswith("-"):
        sign, value = 0x8000, value[1:]
    else:
        sign = 0
    v = Fraction(value)
    if v == 0:
        return struct.pack("<QH", 0, sign)
    e = v.numerator.bit_length() - v.denominator.bit_length()
    while v >= Fraction(2) ** (e + 1):
        e += 1
    while v < Fraction(2) ** e:
        e -= 1
    scale = max(e - 63, -16382 - 63)  # denormals keep the smallest exponent
    m = v / Fraction(2) ** scale
    q, r = divmod(m.numerator, m.denominator)
    if 2 * r > m.denominator or (2 * r == m.denominator and q & 1):
        q += 1
    if q >> 64:
        q >>= 1
        scale += 1
    biased = scale + 63 + 16383 if q >> 63 else 0
    return struct.pack("<QH", q, biased | sign)


def double(text):
    return Fraction(struct.unpack("<d", struct.pack("<d", float(text)))[0])


def fixed(value, width, decimals, mode=0):
    return extended(value) + bytes([width, decimals, mode])


fixed_seeds = []
for v in ["0", "0.5", "1", "0.0123456789", "0.0625", double("0.0045"), double("5e-7"), "0.9995",
          Fraction(2, 3), "-0.0001", "9.9996", "-0", "nan", "inf", "-inf",
          Fraction(1, 2 ** 16445), Fraction(2 ** 64 - 1, 1) * Fraction(2) ** 16320, "1e17",
          "12345.678", "15.999999999999999999", "16", "1e4932", double("0.1"), double("0.3")]:
    for width, decimals in [(3, 3), (10, 6), (5, 5), (0, 20)]:
        fixed_seeds.append(fixed(v, width, decimals))
# An unnormal and a pseudo-denormal, a squeezed exponent and a decimal figure.
fixed_seeds.append(struct.pack("<QH", 0x4000000000000000, 0x3FFF) + bytes([10, 6, 0]))
fixed_seeds.append(struct.pack("<QH", 0x8000000000000001, 0x0000) + bytes([10, 6, 0]))
fixed_seeds.append(struct.pack("<QH", 0x123456789ABCDEF0, 0x0005) + bytes([10, 6, 1]))
fixed_seeds.append(struct.pack("<QBB", 45, 4, 0) + bytes([5, 3, 2]))

run1 = b"10\n0.3\n1\n0\n1\n6\n1\n5\nrun1.txt\n"
run2 = b"20\n0.1\n3\n1\n2\n6\n2\n5\nrun2.txt\n"
answers = b"10\n0.3\n1\n0\n1\n6\n1\n5\n"
dialogues = [
    run1,
    run2,
    b"",
    b"\n\n\n",
    b"abc\n",
    b"10\n0.3\n0\n0\n1\n6\n1\n5\nx\n",
    b"10\n0.3\n7\n0\n1\n6\n1\n5\nx\n",
    b"10\n0.3\n301\n0\n1\n6\n1\n5\nx\n",
    b"10\n0.01\n1\n0\n0\n6\n1\n5\nx\n",
    b"10\n0.01\n1\n0\n1\n6\n0\n5\nx\n",
    b"10 20\n0.3 0.4\n1\n0\n1\n6\n1\n50\nx\n",
    b"10\r\n0.3\r\n1\r\n0\r\n1\r\n6\r\n1\r\n5\r\nrun1.txt\r\n",
    b"10\n1e5000\n1\n0\n1\n6\n1\n5\nx\n",
    b"10\n1e5120\n1\n0\n1\n6\n1\n5\nx\n",
    b"-$10\n-0\n$FFFFFFFF\n$7fffffff\n$7fffffff\n2147483647\n2147483647\n-2147483648\nx\n",
    answers + b"\n",
    answers + b"\x1a",
    answers + b"\x1aname\n",
    answers + b"sub/x\n",
    answers + b"/\n",
    answers + b"x/\n",
    answers + b"./x\n",
    answers + b"../x\n",
    answers + b"a\x00b\n",
    answers + b"n" * 255 + b"\n",
    answers + b"n" * 256 + b"\n",
    answers + b"/dev/full\n",
]

write("fuzz_read_integer", integers)
write("fuzz_read_real", reals)
write("fuzz_read_line_text", lines)
write("fuzz_write_fixed", fixed_seeds)
write("fuzz_dialogue", dialogues)
