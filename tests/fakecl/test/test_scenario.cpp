#include "child_process.h"
