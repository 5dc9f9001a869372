#pragma once
// Reading a PDF back through poppler's programs (pdfinfo, pdfimages), an
// independent reader of what the clip sheet prints.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qvtest {

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// What a shell command prints on stdout; empty when it cannot be run.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

// What poppler's readers tell of a PDF: its page count and title, and for each
// embedded image its page and size (pdfimages -list).
struct PdfImage {
    int page = 0;
    int width = 0;
    int height = 0;
};
struct PdfFacts {
    int pages = -1;
    std::string title;
    std::vector<PdfImage> images;
};
inline PdfFacts ReadPdf(const std::string& path) {
    PdfFacts facts;
    const std::string info = CommandOutput("pdfinfo " + ShellQuote(path) + " 2>/dev/null");
    size_t at = info.find("Pages:");
    if (at != std::string::npos) {
        facts.pages = std::atoi(info.c_str() + at + 6);
    }
    at = info.find("Title:");
    if (at != std::string::npos) {
        size_t start = info.find_first_not_of(' ', at + 6);
        facts.title = info.substr(start, info.find('\n', start) - start);
    }
    const std::string list = CommandOutput("pdfimages -list " + ShellQuote(path) + " 2>/dev/null");
    size_t line = list.find('\n', list.find('\n') + 1);  // past the two header lines
    while (line != std::string::npos && line + 1 < list.size()) {
        PdfImage image;
        int number = 0;
        if (std::sscanf(list.c_str() + line + 1, "%d %d %*s %d %d", &image.page, &number,
                        &image.width, &image.height) == 4) {
            facts.images.push_back(image);
        }
        line = list.find('\n', line + 1);
    }
    return facts;
}

}  // namespace qvtest
