#pragma once
// The tool's whole usage, after what was wrong (when given), on standard error; returns
// the exit code of a wrong use, 2.
int usage(const char *problem);
