// The object the test programs' precompiled headers are made with; it holds nothing itself.
