using System;
using System.Runtime.InteropServices;
using System.Security;

namespace Corvane
{
    /// <summary>
    /// The four Tarnwick exports the wrapper calls. Every signature is blittable so the runtime
    /// marshals nothing: integers pass as they are and the caller pins what it passes by address.
    /// "Tarnwick" resolves to Tarnwick.dll on Windows and libTarnwick.so on Linux.
    /// </summary>
    [SuppressUnmanagedCodeSecurity]
    internal static unsafe class NativeMethods
    {
        private const string Library = "Tarnwick";

        /// <summary>
        /// Stops a 32-bit process before its first call: the x86 library exports decorated names
        /// and writes a 32-bit count, neither of which these declarations match.
        /// </summary>
        internal static void RequireSupportedProcess() => RequireSupportedProcess(IntPtr.Size);

        internal static void RequireSupportedProcess(int pointerSize)
        {
            if (pointerSize != 8)
            {
                throw new PlatformNotSupportedException(
                    $"Corvane runs in 64-bit processes only; this process is {pointerSize * 8}-bit. "
                    + "Build the application for x64 (or AnyCPU without 'Prefer 32-bit').");
            }
        }

        // SetLastError keeps the reason a volume could not be opened for Marshal.GetLastWin32Error.
        [DllImport(Library, EntryPoint = "LoadMft", ExactSpelling = true, SetLastError = true)]
        internal static extern int LoadMft(uint drive, ulong* count);

        [DllImport(Library, EntryPoint = "GetPointer", ExactSpelling = true, SetLastError = true)]
        internal static extern int GetPointer(ResultRecord_Internal** entries);

        [DllImport(Library, EntryPoint = "Clear", ExactSpelling = true, SetLastError = true)]
        internal static extern int Clear();

        // The text is the library's constant; it is read in place and never freed.
        [DllImport(Library, EntryPoint = "GetMftMessage", ExactSpelling = true, SetLastError = true)]
        internal static extern IntPtr GetMftMessage(int code);
    }
}
