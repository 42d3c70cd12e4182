// Two COM ports joined back to back, as over a null-modem cable. The join is
// made outside the test program by the script that runs it
// (with_com_pair.sh), which names the two ports in KIRU_TEST_COM_PAIR, e.g.
// "COM21 COM22"; this side only finds them.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>

class ComPair {
public:
    bool Start(bool* missing, std::string* why) {
        *missing = false;
        const char* names = std::getenv("KIRU_TEST_COM_PAIR");
        std::istringstream words(names != nullptr ? names : "");
        std::string a, b;
        if (!(words >> a >> b)) {
            *why = "KIRU_TEST_COM_PAIR does not name two ports; these tests run through with_com_pair.sh";
            return false;
        }
        endA_ = "\\\\.\\" + a;
        endB_ = "\\\\.\\" + b;
        return true;
    }

    const std::string& EndA() const { return endA_; }
    const std::string& EndB() const { return endB_; }

private:
    std::string endA_;
    std::string endB_;
};
