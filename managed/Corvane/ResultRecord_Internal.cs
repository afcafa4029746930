using System.Runtime.InteropServices;

namespace Corvane
{
    /// <summary>
    /// A catalogue entry as Tarnwick holds it: 1096 bytes, 8-aligned. It declares no fields on
    /// purpose; the wrapper only ever reads Tarnwick's own entries through pointers, at the byte
    /// offsets of <see cref="EntryReader"/>, and never creates, copies or frees one.
    /// </summary>
    [StructLayout(LayoutKind.Sequential, Size = 1096, Pack = 8)]
    internal struct ResultRecord_Internal
    {
    }
}
