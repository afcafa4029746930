using System.Runtime.InteropServices;

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
    }
}
