#include "pipeline/status_codes.h"

#include "common/failure.h"
#include "common/file_names.h"

namespace fennick {

StatusCodes readStatusCodes(LineReader& lines) {
    StatusCodes codes;
    try {
        while (!lines.atEnd()) {
            const std::string_view line = lines.readLine();
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos || equals == 0) {
                codes.warnings.push_back(std::string(kStatusCodesFile) + " line " +
                                         std::to_string(lines.lineNumber()) +
                                         ": not CODE=text, skipped");
                continue;
            }
            codes.meanings.insert_or_assign(std::string(line.substr(0, equals)),
                                            std::string(line.substr(equals + 1)));
        }
    } catch (const Failure& failure) {
        codes.warnings.emplace_back(failure.what());
    }
    return codes;
}

StatusCodes readStatusCodes(const std::filesystem::path& appDir) {
    try {
        LineReader lines(fileIn(appDir, kStatusCodesFile), kStatusCodesFile);
        return readStatusCodes(lines);
    } catch (const Failure& failure) {
        StatusCodes codes;
        if (failure.kind() != FailureKind::FileNotFound)
            codes.warnings.emplace_back(failure.what());
        return codes;
    }
}

}  // namespace fennick
