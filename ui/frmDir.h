#pragma once
// The folder chooser; being written.
