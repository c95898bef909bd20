// Turns a manual page kept as plain text (res/man/*.txt) into roff for man(1), so both programs'
// pages are written the same way and read as text in the tree.
//
// Usage: make-manpage SOURCE OUTPUT VERSION
//
// The text form:
//   - first line: `name(section) -- one-line description`
//   - `## HEADING` starts a section
//   - blocks are separated by blank lines; a block is
//       a paragraph,
//       a term with its description when its second and later lines are indented by two spaces,
//       or an example, kept as written, when every line is indented by four spaces
//   - **bold** and *italic* inside paragraphs and terms

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Backslashes print as themselves, a dash that starts a word (an option) as the minus sign a shell
// needs, and a line cannot start a roff request by accident.
std::string EscapeRoff(const std::string& text) {
    std::string escaped;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\')
            escaped += "\\e";
        else if (c == '-' && (i == 0 || !IsAlphanumeric(text[i - 1])))
            escaped += "\\-";
        else
            escaped += c;
    }
    if (StartsWith(escaped, ".") || StartsWith(escaped, "'"))
        escaped.insert(0, "\\&");
    return escaped;
}

std::string Inline(const std::string& text) {
    static const std::regex bold(R"(\*\*([^*]+)\*\*)");
    static const std::regex italic(R"(\*([^*]+)\*)");
    std::string roff = std::regex_replace(EscapeRoff(text), bold, "\\fB$1\\fR");
    return std::regex_replace(roff, italic, "\\fI$1\\fR");
}

std::string Trimmed(const std::string& line) {
    const size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : line.substr(first);
}

bool AllIndented(const Lines& block, size_t from, const std::string& indent) {
    for (size_t i = from; i < block.size(); ++i)
        if (!StartsWith(block[i], indent))
            return false;
    return from < block.size();
}

std::string RoffFromText(const Lines& lines, const std::string& version) {
    static const std::regex titleLine(R"(^(\S+)\((\d)\) -- (.+)$)");
    std::smatch title;
    if (lines.empty() || !std::regex_match(lines.front(), title, titleLine))
        throw std::runtime_error("the first line must read: name(section) -- description");

    std::string name = title[1];
    std::string upperName;
    for (char c : name)
        upperName += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    std::ostringstream roff;
    roff << ".TH \"" << EscapeRoff(upperName) << "\" \"" << title[2] << "\" \"\" \"Clipwright " << version
         << "\" \"User Commands\"\n"
         << ".SH NAME\n"
         << EscapeRoff(name) << " \\- " << EscapeRoff(title[3]) << "\n";

    std::vector<Lines> blocks(1);
    for (size_t i = 1; i < lines.size(); ++i) {
        if (Trimmed(lines[i]).empty()) {
            if (!blocks.back().empty())
                blocks.emplace_back();
        } else {
            blocks.back().push_back(lines[i]);
        }
    }

    bool afterHeading = false;
    for (Lines& block : blocks) {
        if (block.empty())
            continue;
        if (StartsWith(block.front(), "## ")) {
            roff << ".SH " << EscapeRoff(block.front().substr(3)) << "\n";
            block.erase(block.begin());
            afterHeading = true;
            if (block.empty())
                continue;
        }
        if (AllIndented(block, 0, "    ")) {
            roff << (afterHeading ? "" : ".PP\n") << ".RS 4\n.nf\n";
            for (const std::string& line : block)
                roff << EscapeRoff(line.substr(4)) << "\n";
            roff << ".fi\n.RE\n";
        } else if (AllIndented(block, 1, "  ")) {
            roff << ".TP\n" << Inline(block.front()) << "\n";
            for (size_t i = 1; i < block.size(); ++i)
                roff << Inline(Trimmed(block[i])) << "\n";
        } else {
            roff << (afterHeading ? "" : ".PP\n");
            for (const std::string& line : block)
                roff << Inline(Trimmed(line)) << "\n";
        }
        afterHeading = false;
    }
    return roff.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make-manpage SOURCE OUTPUT VERSION\n");
        return 2;
    }
    try {
        std::ifstream source(argv[1]);
        if (!source)
            throw std::runtime_error("cannot read the source");
        Lines lines;
        for (std::string line; std::getline(source, line);)
            lines.push_back(line);
        const std::string roff = RoffFromText(lines, argv[3]);

        std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
        output << roff;
        output.close();
        if (!output)
            throw std::runtime_error(std::string("cannot write ") + argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-manpage: %s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
