// fennick_gendump DIR [options] [--check]: see kUsage.
// Writes bpdbjobs.txt, policy_list.txt and fennick_config.txt into DIR.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "common/failure.h"
#include "dump_generator.h"
#include "dump_shape.h"

namespace {

constexpr std::string_view kUsage =
    "usage: fennick_gendump DIR [options] [--check]\n"
    "  --jobs N             jobs in bpdbjobs.txt (default 2000)\n"
    "  --now EPOCH          latest start time, seconds since 1970 UTC (default: the present)\n"
    "  --span-hours H       hours the start times spread over before EPOCH (default 72)\n"
    "  --span-days D        the same in days\n"
    "  --policies P         size of the policy pool the jobs run (default 20)\n"
    "  --daily-policies N   daily policies of the pool named in policy_list.txt\n"
    "                       (default: four of every five)\n"
    "  --absent-policies N  listed daily policies that never run (default 1)\n"
    "  --fields MIN:MAX     fields per line (default 40:400, few fields most often)\n"
    "  --line-bytes MIN:MAX lengthen the unread fields so lines grow from MIN to MAX\n"
    "                       bytes with their field count (default: short fields)\n"
    "  --big-server         --fields 60:400 --line-bytes 600:4000 (about 1.1 kB a line)\n"
    "  --seed S             the same options, seed and EPOCH give the same files (default 1)\n"
    "  --check              read the files back and report what breaks their expected shape\n";

[[noreturn]] void usage(std::string_view problem) {
    std::cerr << "fennick_gendump: " << problem << "\n" << kUsage;
    std::exit(2);
}

long long wholeNumber(std::string_view option, const char* text) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0')
        usage(std::string(option) + " needs a whole number");
    return value;
}

// "MIN:MAX" with 0 < MIN <= MAX.
std::pair<std::size_t, std::size_t> range(std::string_view option, std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        usage(std::string(option) + " needs MIN:MAX");
    const std::string low(text.substr(0, colon));
    const std::string high(text.substr(colon + 1));
    const long long min = wholeNumber(option, low.c_str());
    const long long max = wholeNumber(option, high.c_str());
    if (min <= 0 || max < min)
        usage(std::string(option) + " needs 0 < MIN <= MAX");
    return {static_cast<std::size_t>(min), static_cast<std::size_t>(max)};
}

double positiveNumber(std::string_view option, const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value > 0))
        usage(std::string(option) + " needs a positive number");
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    using fennick::bench::DumpOptions;
    DumpOptions options;
    options.now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    std::string dir;
    bool check = false;
    for (int arg = 1; arg < argc; ++arg) {
        const std::string_view option = argv[arg];
        if (option == "--check") {
            check = true;
            continue;
        }
        if (option == "--big-server") {
            options.fewestFields = 60;
            options.mostFields = 400;
            options.shortestLine = 600;
            options.longestLine = 4000;
            continue;
        }
        if (option == "-h" || option == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (option.starts_with("--")) {
            if (arg + 1 >= argc)
                usage(std::string(option) + " needs a value");
            const char* value = argv[++arg];
            if (option == "--jobs") {
                options.jobs = wholeNumber(option, value);
            } else if (option == "--now") {
                options.now = wholeNumber(option, value);
            } else if (option == "--span-hours") {
                options.spanHours = positiveNumber(option, value);
            } else if (option == "--span-days") {
                options.spanHours = 24 * positiveNumber(option, value);
            } else if (option == "--daily-policies") {
                options.listedDaily = static_cast<int>(wholeNumber(option, value));
            } else if (option == "--absent-policies") {
                options.absentPolicies = static_cast<int>(wholeNumber(option, value));
            } else if (option == "--fields") {
                std::tie(options.fewestFields, options.mostFields) = range(option, value);
            } else if (option == "--line-bytes") {
                std::tie(options.shortestLine, options.longestLine) = range(option, value);
            } else if (option == "--policies") {
                options.policies = static_cast<int>(wholeNumber(option, value));
            } else if (option == "--seed") {
                options.seed = static_cast<std::uint64_t>(wholeNumber(option, value));
            } else {
                usage("unknown option " + std::string(option));
            }
            continue;
        }
        if (!dir.empty())
            usage("more than one DIR");
        dir = option;
    }
    if (dir.empty())
        usage("DIR is missing");
    if (options.jobs < 0)
        usage("--jobs must not be negative");
    if (options.policies < 1 || options.policies > 100000)
        usage("--policies must be 1..100000");
    if (options.listedDaily < -1 || options.absentPolicies < 0)
        usage("--daily-policies and --absent-policies must not be negative");
    if (fennick::bench::fieldCounts(options.fewestFields, options.mostFields).empty())
        usage("--fields leaves no usable field count (a line needs at least 39 fields)");

    try {
        const auto begin = std::chrono::steady_clock::now();
        const std::uintmax_t bytes = fennick::bench::generateAppDir(dir, options);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        std::cout << "wrote " << options.jobs << " jobs (" << bytes << " bytes) to " << dir
                  << "/bpdbjobs.txt in " << took.count() << " s; newest start " << options.now
                  << ", seed " << options.seed << "\n";
        if (check) {
            const auto problems = fennick::bench::checkAppDir(dir, options);
            for (const std::string& problem : problems)
                std::cerr << problem << "\n";
            if (!problems.empty())
                return 1;
            std::cout << "check passed\n";
        }
    } catch (const fennick::Failure& failure) {
        std::cerr << "fennick_gendump: " << failure.what() << "\n";
        return 1;
    } catch (const std::filesystem::filesystem_error& error) {
        std::cerr << "fennick_gendump: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
