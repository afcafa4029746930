using System;
using System.Runtime.InteropServices;
using Xunit;

[assembly: Xunit.CollectionBehavior(DisableTestParallelization = true)]

namespace Corvane.Tests
{
    /// <summary>
    /// Tarnwick's exports called directly, to set up states the wrapper cannot reach on its own and
    /// to read the catalogue through the native copy path for comparison.
    /// </summary>
    internal static unsafe class Native
    {
        internal const int ExportSize = 1088;

        [DllImport("Tarnwick", ExactSpelling = true)]
        internal static extern int LoadMft(uint drive, ulong* count);

        [DllImport("Tarnwick", ExactSpelling = true)]
        internal static extern int GetData(byte* buffer);

        [DllImport("Tarnwick", ExactSpelling = true)]
        internal static extern int Clear();

        // The runtime keeps its own copy of the environment on Unix; the native getenv only sees
        // what goes through the C library.
        [DllImport("libc", EntryPoint = "setenv", ExactSpelling = true)]
        private static extern int SetEnv(string name, string value, int overwrite);

        /// <summary>Makes drive letter <paramref name="letter"/> stand for the image at <paramref name="path"/>.</summary>
        internal static uint MapDrive(char letter, string path)
        {
            string variable = "TARNWICK_DRIVE_" + letter;
            Environment.SetEnvironmentVariable(variable, path);
            if (!OperatingSystem.IsWindows())
            {
                Assert.Equal(0, SetEnv(variable, path, 1));
            }

            return (uint)(letter - 'A');
        }
    }
}
