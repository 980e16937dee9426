// A translation unit for the targets that only carry precompiled headers.
