#include "driver/core/untError.h"

namespace wedgecard {

void RaiseKBDError(std::int32_t Code, const std::string& Message) {
    throw EKBDError(Code, Message);
}

}  // namespace wedgecard
