// A sandbox for CiOS tests: the per-user and all-users application-data
// folders and the current directory point into a fresh temporary folder, and
// the OEM name caches start empty. Everything is restored afterwards.
#pragma once

#include <gtest/gtest.h>
#include <kiru/cios.h>

#include <algorithm>
#include <string>

#include "support/env_sandbox.h"

class OsSandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Folders of the sandbox (no trailing separator). localRoot_ and
    // commonRoot_ are what the platform reports as the application-data
    // folders; neither exists until a test makes it.
    std::string root_;
    std::string localRoot_;
    std::string commonRoot_;
    std::string cwd_;

    static void MakeDirs(const std::string& path);
    static void WriteFile(const std::string& path, const std::string& contents);
    // Writes ./oem.ini of the sandbox's current directory.
    void WriteOemIni(const std::string& contents) const;

private:
    kiru_test::EnvSandbox sandbox_;
};

std::wstring Wide(const std::string& text);

// Runs `fill` on a buffer of MAX_PATH characters followed by guard
// characters, checks that the guards are untouched and returns the length
// of the text written.
template <class Char, class Fill>
std::size_t FilledLength(Fill fill) {
    Char buffer[MAX_PATH + 40];
    std::fill(std::begin(buffer), std::end(buffer), Char('#'));
    fill(buffer);
    for (std::size_t i = MAX_PATH; i < MAX_PATH + 40; ++i) EXPECT_EQ(buffer[i], Char('#')) << "guard " << i;
    return std::char_traits<Char>::length(buffer);
}
