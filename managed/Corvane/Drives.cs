using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Corvane
{
    /// <summary>
    /// Names the device or volume image that a drive letter stands for, where the platform has no
    /// drive letters of its own. On Linux Tarnwick reads drive X from the device or image named by
    /// the environment variable TARNWICK_DRIVE_X; this sets that variable where the native library
    /// reads it, which <see cref="Environment.SetEnvironmentVariable(string, string)"/> does not
    /// (the runtime keeps its own copy of the environment on Unix).
    /// </summary>
    /// <remarks>
    /// Changing the environment is not thread-safe in the C library: map drives before other
    /// threads start loading, and never while a load runs.
    /// </remarks>
    public static class Drives
    {
        /// <summary>
        /// Makes drive <paramref name="letter"/> (A to Z) stand for the block device or volume image at
        /// <paramref name="path"/> for every later load in this process.
        /// </summary>
        /// <returns>The drive number to pass to <see cref="MftClass.LoadMft"/> or <see cref="Catalogue.Load(uint)"/>.</returns>
        /// <exception cref="PlatformNotSupportedException">On Windows, where drive letters are the system's.</exception>
        [CLSCompliant(false)]
        public static uint Map(char letter, string path)
        {
            if (path == null)
            {
                throw new ArgumentNullException(nameof(path));
            }

            uint drive = DriveNumber(letter);
            Set(VariableName(letter), path);
            return drive;
        }

        /// <summary>Forgets the device or image <see cref="Map"/> gave drive <paramref name="letter"/>.</summary>
        /// <exception cref="PlatformNotSupportedException">On Windows, where drive letters are the system's.</exception>
        public static void Unmap(char letter)
        {
            DriveNumber(letter);
            Set(VariableName(letter), null);
        }

        /// <summary>The drive number of <paramref name="letter"/>: 0 for A, 2 for C.</summary>
        [CLSCompliant(false)]
        public static uint DriveNumber(char letter)
        {
            char upper = char.ToUpperInvariant(letter);
            if (upper < 'A' || upper > 'Z')
            {
                throw new ArgumentOutOfRangeException(nameof(letter), letter, "a drive letter is A to Z");
            }

            return (uint)(upper - 'A');
        }

        private static string VariableName(char letter) => "TARNWICK_DRIVE_" + char.ToUpperInvariant(letter);

        private static void Set(string name, string value)
        {
            if (RuntimeInformation.IsOSPlatform(OSPlatform.Windows))
            {
                throw new PlatformNotSupportedException("On Windows Tarnwick reads the system's drives; there is nothing to map.");
            }

            // The runtime's copy too, so managed code sees what the library sees.
            Environment.SetEnvironmentVariable(name, value);
            int failed = value == null ? CLibrary.unsetenv(Utf8(name)) : CLibrary.setenv(Utf8(name), Utf8(value), 1);
            if (failed != 0)
            {
                throw new InvalidOperationException($"could not set {name} in the process environment (errno {Marshal.GetLastWin32Error()})");
            }
        }

        // NUL-terminated UTF-8, as the C library takes names and paths.
        private static byte[] Utf8(string text)
        {
            if (text.IndexOf('\0') >= 0)
            {
                throw new ArgumentException("a name or path holds no NUL character", nameof(text));
            }

            return Encoding.UTF8.GetBytes(text + "\0");
        }

        private static class CLibrary
        {
            // "libc" is the C library on every Unix the runtime supports.
            [DllImport("libc", ExactSpelling = true, SetLastError = true)]
            internal static extern int setenv(byte[] name, byte[] value, int overwrite);

            [DllImport("libc", ExactSpelling = true, SetLastError = true)]
            internal static extern int unsetenv(byte[] name);
        }
    }
}
