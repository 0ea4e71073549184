// fennick_gendump DIR [--jobs N] [--now EPOCH] [--span-hours H] [--policies P]
//                     [--seed S] [--check]
// Writes bpdbjobs.txt, policy_list.txt and fennick_config.txt into DIR.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "dump_generator.h"

namespace {

constexpr std::string_view kUsage =
    "usage: fennick_gendump DIR [--jobs N] [--now EPOCH] [--span-hours H] [--policies P]\n"
    "                           [--seed S] [--check]\n"
    "  --jobs N        jobs in bpdbjobs.txt (default 2000)\n"
    "  --now EPOCH     latest start time, seconds since 1970 UTC (default: the present time)\n"
    "  --span-hours H  hours the start times spread over before EPOCH (default 72)\n"
    "  --policies P    size of the policy pool (default 20)\n"
    "  --seed S        the same seed and EPOCH give the same files (default 1)\n"
    "  --check         read the files back and report what breaks their expected shape\n";

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
