// The page of `tarvex view` (tools/tarvex/view_page/: one HTML file, one script, one style
// sheet), built into the program: the build turns the files into a source file
// (cmake/embed_files.cmake), so nothing is read from disk when the page is served.
#pragma once

#include <span>
#include <string_view>

namespace tarvex::cli {

struct ViewAsset {
    std::string_view path;         // "/view.js"; the HTML is "/"
    std::string_view contentType;  // "text/javascript; charset=utf-8"
    std::string_view content;
};

std::span<const ViewAsset> viewAssets();

}  // namespace tarvex::cli
