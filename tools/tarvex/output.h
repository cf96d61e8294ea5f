// What the tool prints on standard output: text for a person, or with --json one JSON document
// per result for a script.  Errors and progress go to standard error, never here.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarvex::cli {

using Json = nlohmann::ordered_json;

// Where results go: the process's standard output.  The library prints its few diagnostics
// ("Error: %d") on standard output too; keepResultsApart() moves those to standard error, so
// that a CSV or JSON on standard output stays whole whatever the library reports.
std::FILE* results();
void keepResultsApart();

// Name / value lines, printed with the values lined up.
using Fields = std::vector<std::pair<std::string, std::string>>;

class Output {
public:
    explicit Output(bool json = false) : json_(json) {}
    bool json() const { return json_; }
    void setJson(bool json) { json_ = json; }

    // A command's result: the record as one line of JSON with --json, else what `text` prints.
    void result(const Json& record, const std::function<void()>& text) const;

    // Text helpers.
    static void line(const std::string& text);
    static void fields(const Fields& fields);

private:
    bool json_;
};

// A file a command writes data to; "-" is standard output.  It is created before a long
// operation, so that a path that cannot be written fails at once, and removed again unless the
// command keeps it (an interrupted or failed capture leaves no half-written file behind).
class OutputFile {
public:
    OutputFile(std::string path, bool binary);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* get() const { return file_; }
    const std::string& path() const { return path_; }
    bool isStdout() const { return path_ == "-"; }
    // Closes the file (so that another writer may fill it by its name); throws a ToolError if
    // what was written did not reach it.
    void close();
    // Closes it and keeps it.
    void keep();

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool kept_ = false;
};

// Notes for the person at the terminal (warnings, hints): standard error, one line each.
void note(const std::string& text);

}  // namespace tarvex::cli
