#include "SimOptions.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "ToolArgs.h"

namespace kr470 {
namespace {

constexpr const char* kUsage =
    "Usage: kr470-sim [OPTION]...\n"
    "A simulated KR470A instrument. Opens a pseudo-terminal (or a loopback TCP port),\n"
    "prints its path (or \"tcp PORT\") on the first line of standard output, then answers\n"
    "the firmware update dialogue until the line drops or it is stopped.\n"
    "A line ends at LF (a CR before it is dropped) or, on the VXI-11 face, with the\n"
    "message (END); a line longer than 1024 bytes is dropped whole. Up to 16 hosts\n"
    "at once on the TCP and VXI-11 faces, one instrument for all; a host that does\n"
    "not read its replies is not read from once 256 kB of them wait.\n"
    "\n"
    "Where it listens:\n"
    "  -l, --link PATH            also make PATH a symbolic link to the pseudo-terminal\n"
    "  -T, --tcp PORT             listen on 127.0.0.1:PORT instead (0: any free port)\n"
    "                             for up to 16 hosts at once\n"
    "  -t, --transcript FILE      write every line received to FILE\n"
    "  -b, --baud N               pace reading to N baud, 10 bits a byte (default: unpaced)\n"
    "  -r, --reply-delay-ms N     wait N ms before each reply (default 0)\n"
    "  -s, --stats on|off         report each download pass's figures on stderr (default off)\n"
    "      --gpib-controller      be a GPIB \"++\" controller with the instrument on its bus\n"
    "      --gpib-address N[:S]   the instrument's primary (and secondary) GPIB address\n"
    "                             (default 10; implies --gpib-controller)\n"
    "      --gpib-silent-after N  the controller answers N \"++read\" commands, then nothing\n"
    "      --vxi11 PORT           serve the VXI-11 core channel on 127.0.0.1:PORT instead\n"
    "                             (0: any free port); prints \"vxi11 PORT\" first\n"
    "      --portmapper           with --vxi11, also answer the portmapper on 127.0.0.1:111\n"
    "                             when that port can be bound (\" portmapper\" is then added)\n"
    "      --lan-device NAME      the LAN device name create_link takes (default inst0)\n"
    "      --max-recv-size N      the largest write create_link announces (default 4096)\n"
    "      --end-without-lf       end each reply with END alone, without its LF\n"
    "\n"
    "What instrument it is:\n"
    "  -i, --idn TEXT             the *IDN? reply\n"
    "                             (default \"Velmora,KR470A,SN470001,1.04-2.10-0.9\")\n"
    "  -e, --error 'N,\"TEXT\"'     an entry of the initial error queue (repeatable)\n"
    "  -c, --installed-checksum TEXT  the dlo:csum? reply before download mode, which is\n"
    "                             also the start token dlo:start must carry (default 0012345)\n"
    "  -n, --new-revision REV     the revision *IDN? reports after dlo:comp\n"
    "                             (default: the last word of the image's S0 header)\n"
    "      --stat-start N         where dlo:stat? field 0 starts counting (default 0)\n"
    "      --expect N             dlo:stat? field 1, the expected record count\n"
    "                             (default: the image's S5 count, else what the pass received)\n"
    "\n"
    "A download interrupted before \"dlo:comp\" leaves no valid image: at the next reset\n"
    "(\"*RST\", \"SYST:REM\", a new TCP connection while no other host is connected,\n"
    "or a new VXI-11 link) *IDN? names a loader\n"
    "(\"loader KR470A\", revision 0.00) and dlo:csum? gives a fresh start token for\n"
    "dlo:start.\n"
    "\n"
    "Faults (lines are counted from 1 within each pass; all repeatable):\n"
    "      --refuse LINE[:TIMES]  refuse that record TIMES times (default 1)\n"
    "      --drop LINE[:TIMES]    lose that line on the wire TIMES times (default 1)\n"
    "      --bad-checksum-pass P  report a wrong checksum after pass P\n"
    "      --error-after-pass P[:'N,\"TEXT\"']  queue an error at pass P's *OPC?\n"
    "                             (default -350,\"Queue overflow\")\n"
    "      --silent CMD[@N]       leave CMD unanswered (only its N-th occurrence with @N)\n"
    "      --hangup-on CMD[@N]    drop the line on CMD (only its N-th occurrence with @N)\n"
    "      --hangup-after-records N  drop the line after N records\n"
    "      --stuck-in-download    stay in download mode through a reset (\"*RST\",\n"
    "                             \"SYST:REM\" or a new connection) instead of coming\n"
    "                             back as a loader instrument\n"
    "      --mute-on CMD[@N]      VXI-11: after CMD (its N-th occurrence with @N) answer\n"
    "                             no call at all, keeping the connection open\n"
    "\n"
    "  -h, --help                 show this help and exit\n"
    "  -V, --version              show the version and exit\n";

enum LongOnly {
    kStatStart = 256,
    kExpect,
    kRefuse,
    kDrop,
    kBadChecksumPass,
    kErrorAfterPass,
    kSilent,
    kHangUpOn,
    kHangUpAfterRecords,
    kGpibController,
    kGpibAddress,
    kGpibSilentAfter,
    kVxi11,
    kPortmapper,
    kLanDevice,
    kMaxRecvSize,
    kMuteOn,
    kEndWithoutLf,
    kStuckInDownload,
};

constexpr option kOptions[] = {
    {"link", required_argument, nullptr, 'l'},
    {"tcp", required_argument, nullptr, 'T'},
    {"transcript", required_argument, nullptr, 't'},
    {"baud", required_argument, nullptr, 'b'},
    {"reply-delay-ms", required_argument, nullptr, 'r'},
    {"stats", required_argument, nullptr, 's'},
    {"idn", required_argument, nullptr, 'i'},
    {"error", required_argument, nullptr, 'e'},
    {"installed-checksum", required_argument, nullptr, 'c'},
    {"new-revision", required_argument, nullptr, 'n'},
    {"stat-start", required_argument, nullptr, kStatStart},
    {"expect", required_argument, nullptr, kExpect},
    {"refuse", required_argument, nullptr, kRefuse},
    {"drop", required_argument, nullptr, kDrop},
    {"bad-checksum-pass", required_argument, nullptr, kBadChecksumPass},
    {"error-after-pass", required_argument, nullptr, kErrorAfterPass},
    {"silent", required_argument, nullptr, kSilent},
    {"hangup-on", required_argument, nullptr, kHangUpOn},
    {"hangup-after-records", required_argument, nullptr, kHangUpAfterRecords},
    {"gpib-controller", no_argument, nullptr, kGpibController},
    {"gpib-address", required_argument, nullptr, kGpibAddress},
    {"gpib-silent-after", required_argument, nullptr, kGpibSilentAfter},
    {"vxi11", required_argument, nullptr, kVxi11},
    {"portmapper", no_argument, nullptr, kPortmapper},
    {"lan-device", required_argument, nullptr, kLanDevice},
    {"max-recv-size", required_argument, nullptr, kMaxRecvSize},
    {"mute-on", required_argument, nullptr, kMuteOn},
    {"end-without-lf", no_argument, nullptr, kEndWithoutLf},
    {"stuck-in-download", no_argument, nullptr, kStuckInDownload},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// "not a number: 'fast'"; a number out of the option's range names the range.
std::string NumberWording(toolargs::NumberFault fault, std::string_view option,
                          std::string_view text, long long low, long long high) {
    if (fault == toolargs::NumberFault::kNotANumber)
        return "not a number: '" + std::string(text) + "'";
    return toolargs::RangeWording(fault, option, text, low, high);
}

constexpr toolargs::Tool kTool("kr470-sim", NumberWording);
constexpr int kMost = INT32_MAX;
constexpr int kHighestPort = 65535;

[[noreturn]] void Fail(const std::string& why) {
    kTool.Fail(why);
}

int Number(const char* option, const std::string& text, int low = 0, int high = kMost) {
    return static_cast<int>(kTool.Number(option, text, low, high));
}

// "A:B" -> (A, B), with B defaulting to `fallback`. A is `low` or more.
std::pair<int, std::string> Pair(const char* option, const std::string& text,
                                 const std::string& fallback, int low = 1) {
    size_t colon = text.find(':');
    return {Number(option, text.substr(0, colon), low),
            colon == std::string::npos ? fallback : text.substr(colon + 1)};
}

Trigger MakeTrigger(const char* option, const std::string& text) {
    size_t at = text.rfind('@');
    if (at == std::string::npos) {
        return {text, 0};
    }
    return {text.substr(0, at), Number(option, text.substr(at + 1))};
}

bool Switch(const std::string& value) {
    if (value == "on" || value == "1")
        return true;
    if (value == "off" || value == "0")
        return false;
    Fail("--stats takes on or off, not '" + value + "'");
}

// The options that shape the instrument's faults. False for any other option.
bool TakeFaultOption(int option, const std::string& value, InstrumentOptions& o) {
    switch (option) {
        case kRefuse: {
            auto [line, times] = Pair("--refuse", value, "1");
            o.refuseLine[line] = Number("--refuse", times);
            return true;
        }
        case kDrop: {
            auto [line, times] = Pair("--drop", value, "1");
            o.dropLine[line] = Number("--drop", times);
            return true;
        }
        case kBadChecksumPass:
            o.badChecksumPasses.push_back(Number("--bad-checksum-pass", value, 1));
            return true;
        case kErrorAfterPass: {
            auto [pass, error] = Pair("--error-after-pass", value, "-350,\"Queue overflow\"");
            o.errorsAfterPass.emplace(pass, error);
            return true;
        }
        case kSilent:
            o.silentOn.push_back(MakeTrigger("--silent", value));
            return true;
        case kHangUpOn:
            o.hangUpOn.push_back(MakeTrigger("--hangup-on", value));
            return true;
        case kStuckInDownload:
            o.stuckInDownload = true;
            return true;
        case kHangUpAfterRecords:
            o.hangUpAfterRecords = Number("--hangup-after-records", value);
            return true;
        default:
            return false;
    }
}

// The options that say what instrument it is. False for any other option.
bool TakeInstrumentOption(int option, const std::string& value, InstrumentOptions& o) {
    switch (option) {
        case 'i':
            o.identification = value;
            return true;
        case 'e':
            o.errors.push_back(value);
            return true;
        case 'c':
            o.installedChecksum = value;
            return true;
        case 'n':
            o.newRevision = value;
            return true;
        case kStatStart:
            o.statStart = Number("--stat-start", value, INT32_MIN);
            return true;
        case kExpect:
            o.expectedRecords = Number("--expect", value, INT32_MIN);
            return true;
        default:
            return TakeFaultOption(option, value, o);
    }
}

int GpibAddress(const std::string& text) {
    int address = Number("--gpib-address", text, INT32_MIN);
    if (address < 0 || address > 30)
        Fail("a GPIB address is 0 to 30, not '" + text + "'");
    return address;
}

// The options of the "++" controller face. False for any other option.
bool TakeGpibOption(int option, const std::string& value, GpibFaceSettings& g) {
    switch (option) {
        case kGpibController:
            g.enabled = true;
            return true;
        case kGpibAddress: {
            auto [primary, secondary] = Pair("--gpib-address", value, "", INT32_MIN);
            g.enabled = true;
            g.primary = GpibAddress(std::to_string(primary));
            g.secondary = secondary.empty() ? -1 : GpibAddress(secondary);
            return true;
        }
        case kGpibSilentAfter:
            g.answeredReads = Number("--gpib-silent-after", value);
            return true;
        default:
            return false;
    }
}

// The LAN face's options. False for any other option.
bool TakeVxi11Option(int option, const std::string& value, Vxi11Options& o) {
    switch (option) {
        case kVxi11:
            o.corePort = Number("--vxi11", value, 0, kHighestPort);
            return true;
        case kPortmapper:
            o.portmapper = true;
            return true;
        case kLanDevice:
            o.device = value;
            return true;
        case kMaxRecvSize:
            if (Number("--max-recv-size", value, INT32_MIN) < 1)
                Fail("--max-recv-size takes a positive number");
            o.maxRecvSize = static_cast<uint32_t>(Number("--max-recv-size", value, 1));
            return true;
        case kMuteOn:
            o.muteOn.push_back(MakeTrigger("--mute-on", value));
            return true;
        case kEndWithoutLf:
            o.lineFeed = false;
            return true;
        default:
            return false;
    }
}

void TakeOption(int option, const std::string& value, SimSettings& s) {
    if (TakeGpibOption(option, value, s.gpib))
        return;
    switch (option) {
        case 'l':
            s.linkPath = value;
            break;
        case 'T':
            s.tcpPort = Number("--tcp", value, 0, kHighestPort);
            break;
        case 't':
            s.transcriptPath = value;
            break;
        case 'b':
            s.baud = Number("--baud", value);
            break;
        case 'r':
            s.replyDelayMs = Number("--reply-delay-ms", value);
            break;
        case 's':
            s.stats = Switch(value);
            break;
        default:
            if (!TakeInstrumentOption(option, value, s.instrument) &&
                !TakeVxi11Option(option, value, s.vxi11)) {
                // getopt_long has already named the option it did not know.
                Fail("bad command line");
            }
    }
}

}  // namespace

SimSettings ParseSimArguments(int argc, char** argv) {
    SimSettings settings;
    optind = 1;
    for (int option;
         (option = getopt_long(argc, argv, "l:T:t:b:r:s:i:e:c:n:hV", kOptions, nullptr)) != -1;) {
        if (option == 'h') {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (option == 'V') {
            std::printf("kr470-sim %s\n", KR470_VERSION);
            std::exit(0);
        }
        TakeOption(option, optarg != nullptr ? optarg : "", settings);
    }
    if (optind < argc) {
        Fail(std::string("unexpected argument '") + argv[optind] + "'");
    }
    return settings;
}

}  // namespace kr470
