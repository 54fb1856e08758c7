#include "form/form.h"
