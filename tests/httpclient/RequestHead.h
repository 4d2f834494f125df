// The request head a client with default request fields sends, and small
// variations of it, so that every test spells the head out in one place.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

// The head a default client sends for GET `target` to `hostLine`.
inline std::string DefaultHead(const std::string& hostLine, const std::string& target = "/kestrin",
                               const std::string& version = "HTTP/1.1") {
    return "GET " + target + " " + version +
           "\r\n"
           "Content-Type: text/html\r\n"
           "Host: " +
           hostLine +
           "\r\n"
           "Accept: text/html, */*\r\n"
           "User-Agent: Mozilla/3.0 (compatible; HTTP Library)\r\n"
           "\r\n";
}

// One line to add to a head: it goes before the first line that begins with
// `before`, or last (before the blank line) when `before` is empty.
struct AddedLine {
    std::string before;
    std::string line;
};

// `head` with the lines added, in the order given.
inline std::string WithLines(std::string head, std::initializer_list<AddedLine> lines) {
    for (const AddedLine& added : lines) {
        const size_t at = added.before.empty() ? head.rfind("\r\n\r\n") : head.find("\r\n" + added.before);
        if (at == std::string::npos) throw std::logic_error("no line \"" + added.before + "\" in the head");
        head.insert(at + 2, added.line + "\r\n");
    }
    return head;
}

// The lines of a head, without their CR LF; the blank line that ends it is
// the last entry.
inline std::vector<std::string> HeadLinesOf(const std::string& head) {
    std::vector<std::string> lines;
    for (size_t from = 0, end; (end = head.find("\r\n", from)) != std::string::npos; from = end + 2)
        lines.push_back(head.substr(from, end - from));
    return lines;
}
