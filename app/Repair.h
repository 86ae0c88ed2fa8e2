#pragma once

// Starts the setup program with "-repair " and the application identifier.
void LaunchRepair();
