// The program's version record: what a file manager or an "About" page reads about the program.
#pragma once

namespace clipwright::ui::version {

inline constexpr const char* kVersion = "1.0.1.0";
inline constexpr const char* kVersionText = "1, 0, 1, 0";
inline constexpr const char* kComments = "AVI file fixer";
inline constexpr const char* kFileDescription = "Clipwright Application";
inline constexpr const char* kInternalName = "Clipwright";
inline constexpr const char* kOriginalFilename = "Clipwright.EXE";
inline constexpr const char* kProductName = "Norvale Clipwright Application";
inline constexpr const char* kCompanyName = "Norvale";
inline constexpr const char* kLegalCopyright = "Copyright (C) 2026 Norvale";

} // namespace clipwright::ui::version
