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
