#pragma once

// Registers the compiled-in pictures (":/new/prefix/Resources/..."); call once at start, before any is loaded.
void initResources();
