#!/usr/bin/env bash
# Plants one realistic fault at a time in the core (protocols, usb, package, devices), builds the
# default preset's test binaries and runs the suite (unit, package, sim, wire, cli, sweep; not the
# GUI), and reports which faults the suite catches. Every fault is an exact text replacement that
# must match its file exactly once; the script stops before building anything when one no longer
# does. The file is restored after each run (also on Ctrl-C).
#
#   scripts/mutation-campaign.sh                 run every fault (after a clean baseline run)
#   scripts/mutation-campaign.sh --only P1,D4    run the named faults
#   scripts/mutation-campaign.sh --list          list the faults
#   scripts/mutation-campaign.sh --check         only check that every replacement still matches
#   scripts/mutation-campaign.sh --no-baseline   skip the unchanged tree's run
#   scripts/mutation-campaign.sh --apply P1      leave one fault in the tree (restore with git)
#
# Logs go to build/default/mutants/. Exit status: 0 when every fault was caught, 1 when one was
# missed, 2 when a fault did not apply or build, or the baseline failed.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 - "$@" <<'PYTHON'
import argparse, os, pathlib, re, signal, subprocess, sys, time

TARGETS = ["rovenza_unit_tests", "rovenza_package_tests", "rovenza_sim_tests", "rovenza_wire_tests",
           "rovenza_cli_tests", "rovenza_sweep_tests"]
LABELS = "unit|package|sim|wire|cli|sweep"

# (id, file, fault in plain words, text in the file, its replacement)
MUTANTS = [
    # ---- protocols --------------------------------------------------------------------------
    ("P1", "src/protocols/IntelHex.cpp", "HEX record checksum leaves out the count byte",
     "std::uint8_t checksum = static_cast<std::uint8_t>(header[0] + header[1] + header[2] + header[3]);",
     "std::uint8_t checksum = static_cast<std::uint8_t>(header[1] + header[2] + header[3]);"),
    ("P2", "src/protocols/IntelHex.cpp", "HEX reader accepts a gap (only a step back is refused)",
     "if (record.count > 0 && (stream > 0xFFFFu || record.address != stream))",
     "if (record.count > 0 && (stream > 0xFFFFu || record.address < stream))"),
    ("P3", "src/protocols/IntelHex.cpp", "HEX file without an end-of-file record accepted",
     'Refuse(debug, file, lineNumber, "no end-of-file record");',
     "return finish(HexEnd::EndOfFile);"),
    ("P4", "src/protocols/FpgaConfig.cpp", "FPGA text: missing pairs of the last block padded with 0x00",
     "configuration.bytes.assign(blocks * kFpgaBlockSize, 0xFF);",
     "configuration.bytes.assign(blocks * kFpgaBlockSize, 0x00);"),
    ("P5", "src/protocols/FpgaConfig.cpp", "FPGA read-back compares 31 of the block's 32 bytes",
     "return std::equal(block, block + kFpgaBlockSize, reply + 5);",
     "return std::equal(block, block + kFpgaBlockSize - 1, reply + 5);"),
    ("P6", "src/protocols/PicBootLoader.cpp", "boot-loader packet address high byte first",
     "    bytes_[2] = static_cast<std::uint8_t>(address & 0xFF);\n    bytes_[3] = static_cast<std::uint8_t>(address >> 8);",
     "    bytes_[2] = static_cast<std::uint8_t>(address >> 8);\n    bytes_[3] = static_cast<std::uint8_t>(address & 0xFF);"),
    ("P7", "src/protocols/CanUpload.cpp", "CAN block split 32/32 instead of 33/31",
     "constexpr std::uint32_t kFirstHalfBytes = 33;", "constexpr std::uint32_t kFirstHalfBytes = 32;"),
    ("P8", "src/protocols/CanUpload.cpp", "CAN packet address low byte first",
     "    packet[4] = static_cast<std::uint8_t>(address >> 8);\n    packet[5] = static_cast<std::uint8_t>(address);",
     "    packet[4] = static_cast<std::uint8_t>(address);\n    packet[5] = static_cast<std::uint8_t>(address >> 8);"),
    ("P9", "src/protocols/Gen2Frames.cpp", "MEM_WRITE frame address low byte first",
     "Frame frame{Code(Gen2Request::MEM_WRITE), Byte(address, 8), Byte(address, 0), count};",
     "Frame frame{Code(Gen2Request::MEM_WRITE), Byte(address, 0), Byte(address, 8), count};"),
    ("P10", "src/protocols/Gen2Frames.cpp", "I2C poll reply taken without its ready byte",
     "if (reply.size() <= kWordFrameSize || reply[0] == 0) return false;",
     "if (reply.size() <= kWordFrameSize) return false;"),
    ("P11", "src/protocols/Gen2Frames.cpp", "GET_STATUS reply of 3 or 4 bytes accepted",
     "    if (reply.size() < kStatusReplySize) return kReplyCheckFailed;\n"
     "    status.Field0 = reply[0];\n    status.Field1 = reply[1];\n    status.Busy = reply[2];\n"
     "    status.Field3 = reply[3];\n    status.Field4 = static_cast<std::uint8_t>(reply[4] ^ 0x01);",
     "    if (reply.size() < 3) return kReplyCheckFailed;\n"
     "    status.Field0 = reply[0];\n    status.Field1 = reply[1];\n    status.Busy = reply[2];\n"
     "    status.Field3 = reply.size() > 3 ? reply[3] : 0;\n"
     "    status.Field4 = reply.size() > 4 ? static_cast<std::uint8_t>(reply[4] ^ 0x01) : 0;"),
    ("P12", "src/protocols/Gen2Frames.cpp", "bit reversal misses its last stage (adjacent bits not swapped)",
     "        b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);\n", ""),
    ("P13", "src/protocols/Gen2Frames.cpp", "identity record kept for 19 of its 20 bytes",
     "std::min<std::size_t>(image.size(), kSerialBlockAddress + kSerialBlockSize);",
     "std::min<std::size_t>(image.size(), kSerialBlockAddress + kSerialBlockSize - 1);"),
    ("P14", "src/protocols/VELKUSB_ADC.cpp", "module frame length byte leaves out the command code",
     "frame[1] = static_cast<std::uint8_t>(payload.size() + 1);",
     "frame[1] = static_cast<std::uint8_t>(payload.size());"),
    ("P15", "src/protocols/VELKUSB_ADC.cpp", "module acknowledgement status read from the wrong byte",
     "if ((read.w1 >> 8 & 0xFF) != 0) return {kModuleRefused, false};",
     "if ((read.w1 & 0xFF) != 0) return {kModuleRefused, false};"),
    ("P16", "src/protocols/VELKUSB_ADC.cpp", "module answer accepted without its closing byte",
     "if (end >= collected.size()) return {kModuleNoAnswer, false};",
     "if (end > collected.size()) return {kModuleNoAnswer, false};"),
    # ---- usb --------------------------------------------------------------------------------
    ("U1", "src/usb/VELKUSB.cpp", "exchange does not cut the reply limit to the bytes returned",
     "    replyLimit = std::min(returned, replyLimit);\n", ""),
    ("U2", "src/usb/VELKUSB.cpp", "failed request with system code 0 reads as success",
     "std::uint32_t FailureCode(std::uint32_t error) { return error == 0 ? 1 : error; }",
     "std::uint32_t FailureCode(std::uint32_t error) { return error; }"),
    ("U3", "src/usb/VELKUSB_Enum.cpp", "PID match ignores the instruments chosen for the walk",
     "if (ExtractPid(entry.path, pid) && pid == wanted && Walked(ctx, entry.path)) paths.push_back(entry.path);",
     "if (ExtractPid(entry.path, pid) && pid == wanted) paths.push_back(entry.path);"),
    ("U4", "src/usb/VELKUSB_2.cpp", "I2C poll time measured in ms against a limit in s",
     "const double elapsed = static_cast<double>(ctx.clock.counter() - t0) / static_cast<double>(frequency);",
     "const double elapsed = 1000.0 * static_cast<double>(ctx.clock.counter() - t0) / static_cast<double>(frequency);"),
    ("U5", "src/usb/VELKUSB_2.cpp", "MEM_READ returns the last chunk's code, not the first failure",
     "if (result == 0) result = code;", "result = code;"),
    ("U6", "src/usb/VELKUSB_AMPL.cpp", "module retransmission without its pause",
     "    ctx.clock.sleep(kRetransmitPauseMs);\n", ""),
    ("U7", "src/usb/VELKUSB_AMPL.cpp", "module answer loop reads 65 times, not 64",
     "if (reads == kModuleAnswerReadLimit) {", "if (reads > kModuleAnswerReadLimit) {"),
    ("U8", "src/usb/VELKUSB_2.cpp", "module word count over 8 accepted",
     "return words.w0 > 8 ? kReplyCheckFailed : code;", "return code;"),
    # ---- package ----------------------------------------------------------------------------
    ("K1", "src/package/UNZDLL.cpp", "member CRC restarted for every 64 KiB chunk",
     "crc = Crc32(crc, buffer.data(), static_cast<std::size_t>(n));",
     "crc = Crc32(0, buffer.data(), static_cast<std::size_t>(n));"),
    ("K2", "src/package/UNZDLL.cpp", "member name ending in a blank accepted",
     "if (name.back() == '.' || name.back() == ' ') return", "if (name.back() == '.') return"),
    ("K3", "src/package/UNZDLL.cpp", "backslash not taken as a folder separator in member names",
     'name.find_last_of("/\\\\")', "name.find_last_of('/')"),
    ("K4", "src/package/UNZDLL.cpp", "device name refused only without an extension",
     "std::string_view stem = name.substr(0, name.find('.'));", "std::string_view stem = name;"),
    ("K5", "src/package/UNZDLL.cpp", "two members differing only in case both accepted",
     "written.emplace(ToLowerAscii(target.name), &stored);", "written.emplace(target.name, &stored);"),
    ("K6", "src/package/ZipMstr.cpp", "links left in the work folder before extracting",
     "if (fs::is_symlink(st) || fs::is_regular_file(st)) stale.push_back(it->path());",
     "if (fs::is_regular_file(st)) stale.push_back(it->path());"),
    ("K7", "src/package/BootloadIni.cpp", "manifest decimal 2147483648 wraps instead of giving the default",
     "    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;\n", ""),
    # ---- devices ----------------------------------------------------------------------------
    ("D1", "src/protocols/PicBootLoader.cpp", "row verify compares 31 of the row's 32 bytes",
     "return std::equal(row, row + kRowSize, reply + kBootDataOffset);",
     "return std::equal(row, row + kRowSize - 1, reply + kBootDataOffset);"),
    ("D2", "src/devices/USBDeviceBootLoader.cpp", "boot loader reopened in 20 attempts, not 21",
     "constexpr int kReopenAttempts = 21;", "constexpr int kReopenAttempts = 20;"),
    ("D3", "src/devices/USBDevice.cpp", "reopen after the restart tries 10 times, not 11",
     "for (int n = 0; n < kAttempts; ++n) {", "for (int n = 1; n < kAttempts; ++n) {"),
    ("D4", "src/devices/USBDeviceBootLoader.cpp", "open instrument already in its boot loader counted as another's",
     "    std::erase_if(before, [&](const std::string& path) { return ContainsPath({openedPath_}, path); });\n", ""),
    ("D5", "src/devices/USBDevice.cpp", "fixed path used for a boot loader listed beside other instruments",
     "const bool onlyBootLoader = listing.size() == 1 && listing.withPid(kPidBootLoader).size() == 1;",
     "const bool onlyBootLoader = listing.withPid(kPidBootLoader).size() == 1;"),
    ("D6", "src/devices/TERVADevice.cpp", "identity record kept only when the image covers all of it",
     "if (image.size() > kSerialBlockAddress) {",
     "if (image.size() >= kSerialBlockAddress + kSerialBlockSize) {"),
    ("D7", "src/devices/TERVADevice.cpp", "bit swap read from the power-on key (not applied when asked)",
     "const bool swap = ReadFPGABitSwap();", "const bool swap = ReadFPGAPowerON();"),
    ("D8", "src/devices/TERVADevice.cpp", "flash verify pass checks only the read-back's length",
     "if (readBack != blockAt(address, n)) {", "if (readBack.size() != n) {"),
    ("D9", "src/devices/TERVADevice.cpp", "EEPROM verify compares with the package image, not the merged one",
     "            if (!std::equal(readBack.begin(), readBack.end(), image.begin() + static_cast<std::ptrdiff_t>(address),\n"
     "                            image.begin() + static_cast<std::ptrdiff_t>(address + n))) {",
     "            if (!std::equal(readBack.begin(), readBack.end(), usbImage_.begin() + static_cast<std::ptrdiff_t>(address),\n"
     "                            usbImage_.begin() + static_cast<std::ptrdiff_t>(address + n))) {"),
    ("D10", "src/devices/TERVADevice.cpp", "Velkaro success after an earlier instrument failed",
     "if (!failed && !anyFailed) message = kMsgSuccess;", "if (!failed) message = kMsgSuccess;"),
    ("D11", "src/devices/VKZenaraModulDevice.cpp", "module image: no group of zeros after a full last group",
     "last = n < kBlockBytes;", "last = position >= ModuleImage.size();"),
    # (Taking the address bytes into the group checksum changes nothing: over a group of eight
    # blocks aligned on 64 bytes they cancel out.)
    ("D12", "src/devices/VKZenaraModulDevice.cpp", "module group checksum covers only the group's last block",
     "        std::uint8_t checksum = 0;\n        for (int k = 1; k <= kBlocksPerGroup; ++k) {\n",
     "        for (int k = 1; k <= kBlocksPerGroup; ++k) {\n            std::uint8_t checksum = 0;\n"),
    ("D13", "src/devices/IRIGDevice.cpp", "IRIG clock success without the firmware watch",
     "if (WriteDataToFPGA(*fpga.configuration) && RunsNewFirmware()) message = kMsgSuccess;",
     "if (WriteDataToFPGA(*fpga.configuration)) message = kMsgSuccess;"),
    ("D14", "src/devices/VK101PowConDevice.cpp", "power controller success without the firmware watch",
     "if (WriteDataToUSBPic(image) && RunsNewFirmware()) message = kMsgSuccess;",
     "if (WriteDataToUSBPic(image)) message = kMsgSuccess;"),
    ("D15", "src/devices/ULMODevice.cpp", "CAN block with an empty reply counted as accepted",
     "if (replyLimit < 1 || reply[0] != kCanBlockAccepted) accepted = false;",
     "if (replyLimit >= 1 && reply[0] != kCanBlockAccepted) accepted = false;"),
    ("D16", "src/devices/ULMODevice.cpp", "CAN finish accepted with an empty reply",
     "return replyLimit >= 1 && reply[0] == kCanFinishAccepted;", "return reply[0] == kCanFinishAccepted;"),
]


def load(path):
    return pathlib.Path(path).read_text(encoding="utf-8")


def check_all(mutants):
    bad = []
    ids = set()
    for mid, path, _, old, new in mutants:
        if mid in ids:
            bad.append(f"{mid}: the id is used twice")
        ids.add(mid)
        if not os.path.exists(path):
            bad.append(f"{mid}: {path} does not exist")
            continue
        count = load(path).count(old)
        if count != 1:
            bad.append(f"{mid}: {path}: the text to replace occurs {count} times (must be once)")
        if old == new:
            bad.append(f"{mid}: the replacement changes nothing")
    return bad


def run(cmd, log, timeout=None):
    with open(log, "a") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        try:
            return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.write("(timed out)\n")
            return 124


def build(log):
    return run(["cmake", "--build", "--preset", "default", "-j", "2", "--target", *TARGETS], log)


def suite(log, timeout):
    return run(["ctest", "--preset", "default", "-L", LABELS, "--stop-on-failure", "--timeout", str(timeout)], log)


def first_failure(log):
    text = load(log)
    m = re.search(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.*\**(?:Failed|Timeout|Exception|Not Run)", text, re.M)
    if m:
        return m.group(1)
    m = re.search(r"The following tests FAILED:\s*\n\s*\d+ - (\S+)", text)
    return m.group(1) if m else "?"


def main():
    ap = argparse.ArgumentParser(prog="mutation-campaign.sh")
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--no-baseline", action="store_true")
    ap.add_argument("--apply", metavar="ID")
    ap.add_argument("--timeout", type=int, default=600, help="per test, in seconds")
    args = ap.parse_args()

    bad = check_all(MUTANTS)
    if bad:
        print("These faults no longer apply:", *bad, sep="\n  ", file=sys.stderr)
        return 2
    mutants = MUTANTS
    if args.only or args.apply:
        wanted = (args.apply or args.only).split(",")
        unknown = [w for w in wanted if w not in {m[0] for m in MUTANTS}]
        if unknown:
            print("Unknown fault ids: " + ", ".join(unknown), file=sys.stderr)
            return 2
        mutants = [m for m in MUTANTS if m[0] in wanted]
    if args.list or args.check:
        for mid, path, what, _, _ in mutants:
            print(f"{mid:4} {path:40} {what}")
        if args.check:
            print(f"{len(mutants)} faults, every replacement matches exactly once")
        return 0
    if args.apply:
        mid, path, what, old, new = mutants[0]
        pathlib.Path(path).write_text(load(path).replace(old, new, 1), encoding="utf-8")
        print(f"{mid} applied to {path}: {what}")
        return 0

    logdir = pathlib.Path("build/default/mutants")
    subprocess.run(["cmake", "--preset", "default"], stdout=subprocess.DEVNULL, check=True)
    logdir.mkdir(parents=True, exist_ok=True)

    # A termination restores the file as Ctrl-C does.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))

    if not args.no_baseline:
        log = logdir / "baseline.log"
        log.unlink(missing_ok=True)
        print("baseline: building and running the suite on the unchanged tree ...", flush=True)
        if build(log) != 0 or suite(log, args.timeout) != 0:
            print(f"The unchanged tree does not build or pass; see {log}", file=sys.stderr)
            return 2

    results = []
    for mid, path, what, old, new in mutants:
        original = load(path)
        log = logdir / f"{mid}.log"
        log.unlink(missing_ok=True)
        started = time.time()
        try:
            pathlib.Path(path).write_text(original.replace(old, new, 1), encoding="utf-8")
            if build(log) != 0:
                outcome, by = "BUILD FAILED", "-"
            elif suite(log, args.timeout) != 0:
                outcome, by = "caught", first_failure(log)
            else:
                outcome, by = "MISSED", "-"
        finally:
            pathlib.Path(path).write_text(original, encoding="utf-8")
        results.append((mid, path, what, outcome, by))
        print(f"{mid:4} {outcome:12} {int(time.time() - started):5d} s  {what}  [{by}]", flush=True)

    print()
    print(f"| {'id':4} | {'file':40} | {'fault':70} | {'result':12} | caught by")
    print(f"|{'-' * 6}|{'-' * 42}|{'-' * 72}|{'-' * 14}|{'-' * 30}")
    for mid, path, what, outcome, by in results:
        print(f"| {mid:4} | {path:40} | {what:70} | {outcome:12} | {by}")
    valid = [r for r in results if r[3] != "BUILD FAILED"]
    caught = [r for r in valid if r[3] == "caught"]
    print()
    print(f"score: {len(caught)}/{len(valid)} caught" + (f" ({100 * len(caught) // len(valid)} %)" if valid else ""))
    missed = [r[0] for r in valid if r[3] == "MISSED"]
    if missed:
        print("missed: " + ", ".join(missed))
    if len(valid) != len(results):
        return 2
    return 1 if missed else 0


try:
    sys.exit(main())
except KeyboardInterrupt:
    print("interrupted; the tree is restored", file=sys.stderr)
    sys.exit(130)
PYTHON
