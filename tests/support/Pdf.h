#pragma once
// Reading a PDF back through poppler's programs (pdfinfo, pdfimages), an
// independent reader of what the clip sheet prints.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/Shell.h"

namespace qvtest {

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
    const std::string info = RunShell("pdfinfo " + Quote(path) + " 2>/dev/null").output;
    size_t at = info.find("Pages:");
    if (at != std::string::npos) {
        facts.pages = std::atoi(info.c_str() + at + 6);
    }
    at = info.find("Title:");
    if (at != std::string::npos) {
        size_t start = info.find_first_not_of(' ', at + 6);
        facts.title = info.substr(start, info.find('\n', start) - start);
    }
    const std::string list = RunShell("pdfimages -list " + Quote(path) + " 2>/dev/null").output;
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
