#!/usr/bin/env python3
"""Writes the seed inputs under fuzz/corpus/ from the unit tests' cases.

Run it again after changing an input format of a fuzz target; the seeds are
checked in so a fuzz run needs nothing but the build.
"""
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def netstat_row(local, foreign, state, owner, protocol="TCP", end="\n"):
    """A row laid out as "netstat -ano" prints it."""
    row = ("  " + protocol).ljust(9)
    for column in (local, foreign, state):
        row += column + " " * max(1, 23 - len(column))
    return row + owner + end


LISTEN = netstat_row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4")
DECOYS = (netstat_row("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "5")
          + netstat_row("[::]:96730", "[::]:0", "ESTABLISHED", "6")
          + netstat_row("10.0.0.2:50123", "10.0.0.9:9673", "ESTABLISHED", "300")
          + netstat_row("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673")
          + netstat_row("0.0.0.0:9673", "*:*", "LISTENING", "7", "UDP"))

LISTINGS = {
    "header_only": "\nActive Connections\n\n  Proto  Local Address          Foreign Address"
                   "        State           PID\n",
    "closing_states": netstat_row("127.0.0.1:9673", "127.0.0.1:50000", "TIME_WAIT", "0")
                      + netstat_row("127.0.0.1:9673", "127.0.0.1:50001", "CLOSE_WAIT", "77"),
    "udp_rows": netstat_row("0.0.0.0:9673", "*:*", "", "812", "UDP"),
    "listening": LISTEN,
    "listening_ipv6": netstat_row("[::]:9673", "[::]:0", "LISTENING", "3120"),
    "established": netstat_row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"),
    "listening_after_established":
        netstat_row("[::1]:9673", "[::1]:50000", "ESTABLISHED", "66") + LISTEN,
    "decoys_only": DECOYS,
    "listening_last_token": "  TCP    0.0.0.0:9673           0.0.0.0:0              LISTENING",
    "tabs_and_crlf": "TCP\t0.0.0.0:9673\t0.0.0.0:0\tLISTENING\t4\r\n",
    "owner_too_large": netstat_row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4294967296"),
    # Longer than two 500-byte pieces, with the deciding row in the last one.
    "three_pieces": DECOYS * 3 + LISTEN,
    # Translated states in code page 850 bytes (each character below stands
    # for the byte of its number): German, French in two words, Spanish.
    "german": netstat_row("127.0.0.1:9673", "127.0.0.1:50000", "HERGESTELLT", "66")
              + netstat_row("0.0.0.0:9673", "0.0.0.0:0", "ABH\x99REN", "1032"),
    "french_two_words": netstat_row("[::]:9673", "[::]:0", "\xb7 L'\x90COUTE", "2048"),
    "spanish": netstat_row("127.0.0.1:9673", "127.0.0.1:50001", "ESTABLECIDO", "77")
               + netstat_row("0.0.0.0:19673", "0.0.0.0:0", "ESCUCHANDO", "5"),
}


def write_netstat_seeds():
    folder = CORPUS / "netstat_listing"
    folder.mkdir(parents=True, exist_ok=True)
    for name, listing in LISTINGS.items():
        (folder / name).write_bytes(struct.pack("<H", 9673) + listing.encode("latin-1"))


# Record offsets of the two layouts: pointer size, parameters pointer in the
# environment block, command line in the process parameters, its buffer field.
LAYOUTS = {32: (4, 0x10, 0x40, 4), 64: (8, 0x20, 0x70, 8)}
PEB, PARAMETERS, TEXT = 0x40, 0x80, 0x100  # where the records lie in the image


def put(image, offset, value, width):
    image[offset:offset + width] = value.to_bytes(width, "little")


def memory_image(bits, wow64, base, units, maximum_length):
    pointer, peb_parameters, command_line, buffer_field = LAYOUTS[bits]
    image = bytearray(b"\xcc" * TEXT)
    put(image, 0, 0x103, 4)  # exit status: still running
    put(image, 8 if wow64 else 4, base + PEB, 8 if wow64 else 4)
    put(image, PEB + peb_parameters, base + PARAMETERS, pointer)
    put(image, PARAMETERS + command_line, min(maximum_length, 2 * len(units)), 2)
    put(image, PARAMETERS + command_line + 2, maximum_length, 2)
    put(image, PARAMETERS + command_line + buffer_field, base + TEXT, pointer)
    image += units.encode("utf-16-le")
    selector = (1 if bits == 64 else 0) | (2 if wow64 else 0)
    return bytes([selector]) + struct.pack("<Q", base) + bytes(image)


IMAGES = {
    "layout32_native": (32, False, 0x7FFD_0000),
    "layout64_wow64_above_4GiB": (64, True, 0x7FF6_1234_0000),
    "layout32_wow64": (32, True, 0x0003_0000),
    "layout64_native": (64, False, 0x0004_0000),
}

COMMAND_LINE = '"" -Djava.net.preferIPv4Stack=true -jar "C:\\Vantic\\Vantic.jar"'
TEXTS = {
    "nul_inside": (COMMAND_LINE + "\0left over", None),
    "no_nul": ("abcdefgh", 16),
    "odd_maximum_length": ("abcd", 5),
    "maximum_length_zero": ("", 0),
    "beyond_the_image": ("abcd", 10),
    "utf16_units": ("C:\\Caf\u00e9\\\U0001F600\u4e2d", None),
}


def write_command_line_seeds():
    folder = CORPUS / "command_line_reader"
    folder.mkdir(parents=True, exist_ok=True)
    for image_name, (bits, wow64, base) in IMAGES.items():
        for text_name, (units, maximum_length) in TEXTS.items():
            size = len(units.encode("utf-16-le")) if maximum_length is None else maximum_length
            seed = memory_image(bits, wow64, base, units, size)
            (folder / f"{image_name}-{text_name}").write_bytes(seed)


def log_line(process_id, time, message):
    """A line as the starter writes it."""
    return f"[{process_id}] [2026-12-08 {time}] [info] {message}\r\n".encode("utf-8")


def run_lines(process_id, minute, arguments, output, wait_ended=None):
    lines = log_line(process_id, f"10:{minute:02}:00.000", "[ START ] 2.3.6.2")
    for index, argument in enumerate(arguments, 1):
        lines += log_line(process_id, f"10:{minute:02}:00.001", f"param {index}->{argument}")
    if wait_ended:
        lines += log_line(process_id, f"10:{minute:02}:20.000", f"wait ended: {wait_ended}")
    lines += log_line(process_id, f"10:{minute:02}:20.000", f"OUTPUT->{output}")
    return lines, log_line(process_id, f"10:{minute:02}:20.001", "[ END ]\n")


SUCCESS = '{"Dravel":0,"Selkan":0}'
A_BODY, A_END = run_lines(11, 0, ["--BrandleAgent", "Selkan"], '{"Dravel":0,"Selkan":1}',
                          "WsClientConnected.json not Exist")
B_BODY, B_END = run_lines(22, 1, [], SUCCESS)

# Each seed: (tail begins inside the file, rotated file, current file).
LOGS = {
    "one_run": (False, b"", B_BODY + B_END),
    "interleaved": (False, b"", A_BODY[:60] + B_BODY + A_BODY[60:] + B_END + A_END),
    "start_in_rotated": (False, A_BODY, B_BODY + B_END + A_END),
    "torn_last_line": (False, b"", B_BODY + B_END[:20]),
    "tail_inside_a_line": (True, b"", b"x" * 40 + B_BODY + B_END),
    "huge_index": (False, b"", B_BODY + log_line(22, "10:01:00.002", "param 4294967295->y") + B_END),
    "ill_formed_utf8": (False, b"", B_BODY + log_line(22, "10:01:01.000", "OUTPUT->")[:-2]
                        + b"\xed\xa0\x80\xc0\xaf\xf4\x90\x80\x80\xe2\x82\r\n" + B_END),
    "control_characters": (False, b"", B_BODY + log_line(22, "10:01:01.000", "wait ended: a\nverdict ready\x01\x7f")
                           + B_END),
    "time_limit": (False, b"", B_BODY + log_line(22, "10:01:36.000", "run ended at its time limit in port selection")
                   + B_END),
    "unended_runs": (False, b"", b"".join(log_line(n, "10:00:00.000", "[ START ] 2.3.6.2")
                                          + log_line(n, "10:00:00.001", "param 32767->x") for n in range(1, 80))
                     + B_BODY + B_END),
}


def write_log_seeds():
    folder = CORPUS / "log_reading"
    folder.mkdir(parents=True, exist_ok=True)
    for name, (cut, rotated, current) in LOGS.items():
        (folder / name).write_bytes(bytes([int(cut)]) + struct.pack("<H", len(rotated)) + rotated + current)


if __name__ == "__main__":
    write_netstat_seeds()
    write_command_line_seeds()
    write_log_seeds()
