#include "common/zan_test_helpers.h"
