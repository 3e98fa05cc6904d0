# Fuzz targets of the files of the root and the helper programs' outputs (see CMakeLists.txt).
