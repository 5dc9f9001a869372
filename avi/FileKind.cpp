// Which reader a file needs, told by its first bytes, and which writer an output
// name asks for, told by its extension.

#include <algorithm>
#include <cctype>
#include <cstring>

#include "avi/AviReader.h"
#include "avi/DvAviWriter.h"
#include "avi/MovWriter.h"
#include "avi/QuickTimeReader.h"
#include "avi/RawDvReader.h"
#include "avi/RawDvWriter.h"
#include "avi/RiffAviReader.h"
#include "dv/DifFrame.h"
#include "platform/File.h"

namespace qv {

namespace {

const char kNoKnownKind[] = "not an AVI, raw DV or QuickTime file";

enum class Kind { Avi, RawDv, QuickTime, Other };

// The atoms a QuickTime file may begin with.
bool IsQuickTimeAtom(const uint8_t* type) {
    for (const char* atom : {"ftyp", "moov", "mdat", "wide", "free", "skip"}) {
        if (std::memcmp(type, atom, 4) == 0) {
            return true;
        }
    }
    return false;
}

// The kind of a file whose first size bytes are head. A raw DV file is taken for
// one only when its first frame's header names a format it can be read as;
// otherwise why says which.
Kind KindOf(const uint8_t* head, size_t size, std::string* why) {
    if (size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0) {
        return Kind::Avi;
    }
    if (size >= 8 && IsQuickTimeAtom(head + 4)) {
        return Kind::QuickTime;
    }
    if (size >= 4 && IsDifFrameHeader(head)) {
        const DifSystem system = DifSystemOf(head, size, why);
        return system.frameBytes != 0 ? Kind::RawDv : Kind::Other;
    }
    *why = kNoKnownKind;
    return Kind::Other;
}

// The file's first bytes, at most kDifProfileBytes; false (with the system's error
// when asked for) when it cannot be read.
bool ReadHead(const std::string& fileName, std::vector<uint8_t>* head, int* error = nullptr) {
    File file;
    if (!file.OpenRead(fileName, File::Access::Random)) {
        if (error != nullptr) {
            *error = file.LastError();
        }
        return false;
    }
    head->resize(kDifProfileBytes);
    const int64_t got = file.ReadAt(0, head->data(), kDifProfileBytes);
    if (got < 0) {
        if (error != nullptr) {
            *error = file.LastError();
        }
        return false;
    }
    head->resize(static_cast<size_t>(got));
    return true;
}

std::string LowerExtension(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

std::string FileKindRefusal(const std::string& fileName) {
    std::vector<uint8_t> head;
    if (!ReadHead(fileName, &head)) {
        return {};
    }
    std::string why;
    switch (KindOf(head.data(), head.size(), &why)) {
        case Kind::Avi:
            return {};
        case Kind::RawDv: {
            // Its open is two reads: it tells of frames out of step as well.
            RawDvReader raw;
            // A file that cannot be read is not refused for its content: the open tells.
            return raw.Open(fileName) || raw.OpenError() != 0 ? std::string() : raw.Refusal();
        }
        case Kind::QuickTime: {
            QuickTimeReader qt;
            return qt.Open(fileName) || qt.OpenError() != 0 ? std::string() : qt.Refusal();
        }
        case Kind::Other:
            break;
    }
    return why;
}

std::unique_ptr<AviReader> OpenAviFile(const std::string& fileName) {
    return OpenAviFile(fileName, static_cast<std::string*>(nullptr), nullptr);
}

std::unique_ptr<AviReader> OpenAviFile(const std::string& fileName, int* error) {
    return OpenAviFile(fileName, static_cast<std::string*>(nullptr), error);
}

std::unique_ptr<AviReader> OpenAviFile(const std::string& fileName, std::string* refusal,
                                       int* error) {
    std::string why;
    int systemError = 0;
    std::unique_ptr<AviReader> reader;
    std::vector<uint8_t> head;
    if (ReadHead(fileName, &head, &systemError)) {
        switch (KindOf(head.data(), head.size(), &why)) {
            case Kind::Avi: {
                auto riff = std::make_unique<RiffAviReader>();
                if (riff->Open(fileName)) {
                    reader = std::move(riff);
                } else {
                    systemError = riff->OpenError();
                }
                break;
            }
            case Kind::RawDv: {
                auto raw = std::make_unique<RawDvReader>();
                if (raw->Open(fileName)) {
                    reader = std::move(raw);
                } else {
                    why = raw->Refusal();
                    systemError = raw->OpenError();
                }
                break;
            }
            case Kind::QuickTime: {
                auto qt = std::make_unique<QuickTimeReader>();
                if (qt->Open(fileName)) {
                    reader = std::move(qt);
                } else {
                    why = qt->Refusal();
                    systemError = qt->OpenError();
                }
                break;
            }
            case Kind::Other:
                break;
        }
    }
    if (error != nullptr) {
        *error = reader ? 0 : systemError;
    }
    if (refusal != nullptr) {
        *refusal = reader ? std::string() : why;
    }
    return reader;
}

std::string OutputKindOf(const std::string& destinationName) {
    const std::string ext = LowerExtension(destinationName);
    if (ext == ".dv" || ext == ".dif") {
        return "dv";
    }
    if (ext == ".mov") {
        return "mov";
    }
    return "avi";
}

std::string KindFamily(const std::string& kind) {
    return kind == "dv" || kind == "mov" ? kind : "avi";
}

std::unique_ptr<AviWriter> CreateWriterFor(AviReader& source, const std::string& destinationName,
                                           const WriterOptions& options) {
    const std::string wanted = OutputKindOf(destinationName);
    const std::string own = KindFamily(source.Kind());
    if (wanted == "mov") {
        return CreateMovWriter(source, destinationName, options.firstFrame);
    }
    if (wanted == own) {
        return source.CreateWriter(destinationName, options);
    }
    if (wanted == "dv") {
        return CreateRawDvWriter(source, destinationName);
    }
    if (wanted == "avi" && own == "mov") {
        // Type-2: the DV frames and the PCM sound tracks, chunk for chunk.
        auto* qt = dynamic_cast<QuickTimeReader*>(&source);
        std::vector<AudioFormat> sound;
        for (int i = 1; qt != nullptr && i < source.StreamCount(); ++i) {
            sound.push_back(source.Stream(i)->GetAudioFormat().value_or(AudioFormat{}));
        }
        auto writer = std::make_unique<RiffAviWriter>(destinationName, options);
        if (qt == nullptr || !writer->Open(DvAviLayout(source.FileName(), qt->System(), sound))) {
            return nullptr;
        }
        return writer;
    }
    if (wanted == "avi" && own == "dv") {
        auto writer = std::make_unique<DvAviWriter>(destinationName, options);
        if (!writer->Open(source, options.firstFrame)) {
            return nullptr;
        }
        return writer;
    }
    return nullptr;
}

}  // namespace qv
