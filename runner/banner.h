#pragma once

/// Prints the title, the notice and the product version line.
void PrintBanner();
