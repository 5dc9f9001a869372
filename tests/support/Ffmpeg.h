#pragma once
// ffmpeg and ffprobe, an independent reader and writer of DV and AVI: shell commands,
// ffprobe's view of a file, and real DV clips made once per process. They are declared
// test dependencies: when they are missing the tests that need them fail, not skip.

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/AviFixture.h"
#include "support/Shell.h"

namespace qvtest {

// ffprobe's view of each stream in file order, as key=value pairs; it counts the
// packets by demuxing the whole file. Empty when ffprobe fails.
using ProbeFields = std::map<std::string, std::string>;

inline std::vector<ProbeFields> Probe(const std::string& path) {
    const ShellResult r = RunShell(
        "ffprobe -v error -count_packets -show_entries stream=index,codec_type,codec_name,width,"
        "height,r_frame_rate,sample_rate,channels,nb_frames,nb_read_packets,pix_fmt,codec_tag_string "
        "-of compact=p=0 " +
        Quote(path) + " </dev/null");
    std::vector<ProbeFields> streams;
    std::istringstream lines(r.status == 0 ? r.output : "");
    for (std::string line; std::getline(lines, line);) {
        ProbeFields fields;
        std::istringstream items(line);
        for (std::string item; std::getline(items, item, '|');) {
            if (const auto eq = item.find('='); eq != std::string::npos) {
                fields[item.substr(0, eq)] = item.substr(eq + 1);
            }
        }
        if (!fields.empty()) {
            streams.push_back(std::move(fields));
        }
    }
    return streams;
}

inline std::string Field(const ProbeFields& f, const std::string& key) {
    const auto it = f.find(key);
    return it == f.end() ? std::string("(missing)") : it->second;
}

struct TvSystem {
    const char* name;
    int width, height;
    int rateNum, rateDen;     // the frame rate as ffprobe writes it: rateNum / rateDen
    const char* pixelFormat;  // what ffmpeg's dvvideo encoder takes for this system
    int frameSize;
};

inline void PrintTo(const TvSystem& system, std::ostream* os) {
    *os << system.name;
}

inline const TvSystem kPal{"pal", 720, 576, 25, 1, "yuv420p", kPalFrameSize};
inline const TvSystem kNtsc{"ntsc", 720, 480, 30000, 1001, "yuv411p", kNtscFrameSize};

// The recording time ffmpeg's DV muxer writes into every frame's date and time packs,
// advanced by the frame's whole seconds.
constexpr const char* kClipRecorded = "2004-07-14T10:20:30Z";

// 1.2 s of dvvideo pictures (ffmpeg decodes only real ones) with 48 kHz stereo PCM,
// as raw DV and as the type-2 AVI 1.0 ffmpeg wraps it into ("00dc", "01wb", "idx1").
struct DvClip {
    std::string dvPath, aviPath;
    std::vector<std::vector<uint8_t>> frames;  // the raw DV cut into frames
};

// Made once per process and system; null, with the reason, when ffmpeg cannot.
inline const DvClip* RealDvClip(const TvSystem& sys, std::string* reason) {
    static TempDir dir;
    static std::map<std::string, std::pair<DvClip, std::string>> made;
    auto it = made.find(sys.name);
    if (it == made.end()) {
        DvClip clip{
            dir.Path(std::string(sys.name) + ".dv"), dir.Path(std::string(sys.name) + ".avi"), {}};
        std::string why;
        const std::string encode =
            "ffmpeg -v error -y -nostdin -f lavfi -i testsrc=size=" + std::to_string(sys.width) +
            "x" + std::to_string(sys.height) + ":rate=" + std::to_string(sys.rateNum) + "/" +
            std::to_string(sys.rateDen) + " -f lavfi -i sine=frequency=1000:sample_rate=48000" +
            " -t 1.2 -c:v dvvideo -pix_fmt " + sys.pixelFormat +
            " -c:a pcm_s16le -ac 2 -ar 48000 -metadata creation_time=" + kClipRecorded + " -f dv " +
            Quote(clip.dvPath) + " 2>&1";
        const std::string wrap = "ffmpeg -v error -y -nostdin -i " + Quote(clip.dvPath) +
                                 " -c copy " + Quote(clip.aviPath) + " 2>&1";
        const auto frameSize = static_cast<size_t>(sys.frameSize);
        if (RunShell("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1")
                .status != 0) {
            why = "ffmpeg/ffprobe are not installed (Debian package ffmpeg; a test dependency)";
        } else if (const ShellResult r = RunShell(encode); r.status != 0) {
            why = "ffmpeg could not make DV: " + encode + "\n" + r.output;
        } else if (const ShellResult w = RunShell(wrap); w.status != 0) {
            why = "ffmpeg could not wrap DV into AVI: " + wrap + "\n" + w.output;
        }
        const std::vector<uint8_t> bytes =
            why.empty() ? ReadFileBytes(clip.dvPath) : std::vector<uint8_t>{};
        if (why.empty() && (bytes.empty() || bytes.size() % frameSize != 0)) {
            why = "ffmpeg's raw DV is not whole frames";
        }
        for (size_t at = 0; why.empty() && at < bytes.size(); at += frameSize) {
            clip.frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
        }
        it = made.emplace(sys.name, std::pair{std::move(clip), why}).first;
    }
    *reason = it->second.second;
    return reason->empty() ? &it->second.first : nullptr;
}

}  // namespace qvtest
