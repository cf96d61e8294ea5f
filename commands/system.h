// What the system commands show and answer that the library's tools show too.
#pragma once

namespace tarvex::commands {

// The About box u_About shows (no owner window, OK button, information icon).
inline constexpr const char* kAboutCaption = "About Tarvex API";
inline constexpr const char* kAboutText =
    "Tarvex device API\n"
    "Developed by the Tarvex engineering team\n"
    "Tarvex Instruments - https://www.tarvex.example";

}  // namespace tarvex::commands
