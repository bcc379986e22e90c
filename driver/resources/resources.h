#pragma once
// Registers the compiled-in images and the Russian catalogue. The resources
// live in a static library, so the program and the tests call this once to
// pull them into the link; repeated calls are harmless.
void stadiolinkInitResources();
