// Where extract writes: files below one root directory, never outside it and
// never through a link (symbolic link, junction) found inside it. A file is
// written under a temporary name and renamed over its own name only when
// complete, so a damaged entry leaves nothing under its name and an existing
// link in its place is replaced, not followed.
#pragma once

#include <memory>
#include <string>
#include <vector>

class outputtree {
public:
    outputtree();
    ~outputtree();
    outputtree(const outputtree&) = delete;
    outputtree& operator=(const outputtree&) = delete;

    // Creates root when missing and opens it. False when it cannot.
    bool open(const std::string& root);
    // Starts the file named by path components (UTF-8) below the root,
    // creating its directories. False when a component is a link or not a
    // directory, or the file cannot be created; why() says which.
    bool create(const std::vector<std::string>& components);
    // Appends bytes to the started file. False when writing failed.
    bool write(const unsigned char* bytes, size_t length);
    // Ends the started file: keep renames it over its name, otherwise it is
    // removed. False when it could not be kept.
    bool finish(bool keep);
    const std::string& why() const { return reason; }

private:
    struct state;
    std::unique_ptr<state> self;
    std::string reason;
};
