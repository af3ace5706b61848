#include "ui_test_util.h"
