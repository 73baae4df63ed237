#include "interpreter/ActionKeyword.h"

#include <climits>

#include "interpreter/Section.h"

bool KvActionCode(const std::string& value, int& code)
{
    if (value == "KVHF_CONTINUE") {
        code = KVHF_CONTINUE;
        return true;
    }
    if (value == "KVHF_RETRY") {
        code = KVHF_RETRY;
        return true;
    }
    if (value == "KVHF_USERBREAK") {
        code = KVHF_USERBREAK;
        return true;
    }
    if (value == "KVHF_UNINSTALL") {
        code = KVHF_UNINSTALL;
        return true;
    }

    static const char kGoto[] = "KVHF_GOTOSTEP(";
    const size_t gotoLen = sizeof(kGoto) - 1;
    if (value.compare(0, gotoLen, kGoto) != 0)
        return false;
    // A step number too large for the counter can never be reached; it is
    // held at the largest one, which ends the walk like any step beyond the
    // count.
    long long step = 0;
    for (size_t i = gotoLen; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        step = step * 10 + (value[i] - '0');
        if (step > INT_MAX) {
            step = INT_MAX;
            break;
        }
    }
    code = static_cast<int>(step);
    return true;
}
