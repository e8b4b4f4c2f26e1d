// A Python script making an archive of many small entries for the benchmarks: argv[1] the
// archive, argv[2] the count. Entries spread over folders like a source tree, in an order
// that is not their names'; more than 65,535 make Python write the Zip64 end record.
#pragma once

inline const char* const kManyScript =
    "import sys, zipfile\n"
    "n = int(sys.argv[2])\n"
    "with zipfile.ZipFile(sys.argv[1] + '.part', 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as "
    "z:\n"
    "    for i in range(n):\n"
    "        z.writestr('d%03d/f%06d.txt' % (i % 1000, i), ('line %d\\n' % i) * (1 + i % 16))\n"
    "import os; os.replace(sys.argv[1] + '.part', sys.argv[1])\n";
