#include "base/exception16.h"

Exception16::~Exception16() = default;
