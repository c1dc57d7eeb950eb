// Reviewed copies of what a run writes, kept in a testdata folder beside the
// test. After a change that is meant, run the test with REBASE=1 to rewrite
// them, and review the difference like code.
#pragma once

#include <filesystem>
#include <string>

/// Expects `actual` to equal the kept file `kept`; with REBASE set in the
/// environment, first writes `actual` there (making its folder).
void ExpectGolden(const std::string &actual, const std::filesystem::path &kept);

/// `text` with every `from` written as `to`: a run's folder as "<dir>", so
/// that the kept copy holds no temporary path.
std::string ReplaceAll(std::string text, const std::string &from, const std::string &to);
