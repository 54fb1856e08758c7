#include "form/ports.h"
