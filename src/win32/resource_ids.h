// Identifiers of the resources every Windows program of the project carries (resources.rc.in),
// shared by the resource script and the code that loads them.
#pragma once

#define VM_RESOURCE_ICON 1
