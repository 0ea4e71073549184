// The decisions of the start-up that need no window: the first job id of the
// dump and whether the command line asks for the unattended run.
#pragma once

#include <QStringList>
#include <filesystem>
#include <string>

namespace fennick::app {

// The switch of the unattended run.
inline constexpr const char* kUnattendedSwitch = "-q";

// Field 0 of the first line of bpdbjobs.txt in `appDir`: the text before the
// first comma. A missing dump is "file not found", an empty one "input past
// end", and a first line without a comma "invalid argument". Only the first
// line is read.
std::string firstJobId(const std::filesystem::path& appDir);

// True only for exactly one argument that is exactly "-q": "-Q", "/q", "-q "
// and "-q" followed by anything else all mean the interactive run.
bool isUnattended(const QStringList& arguments);

}  // namespace fennick::app
