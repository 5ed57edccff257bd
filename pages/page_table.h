// The console's page table: every page of the tree, in the order the main window creates them.
#pragma once

#include "app/page_registry.h"

const PageRegistry& consolePages();
