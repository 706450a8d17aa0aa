#pragma once

// Registers the program's icons (":/image/<name>.png"). Resources inside a
// static library are only linked in when something references them, so the
// program calls this once in main, and tests call it before loading icons.
void kv930InitResources();
