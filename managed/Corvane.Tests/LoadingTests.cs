using System;
using Xunit;

namespace Corvane.Tests
{
    /// <summary>
    /// Tests that load volumes into the process-wide native catalogue: every test starts and ends
    /// with nothing loaded, whatever an earlier one left behind, and mounts its volume on one letter.
    /// </summary>
    public abstract class LoadingTests : IDisposable
    {
        private const char Letter = 'T';

        protected LoadingTests() => Release();

        public void Dispose() => Release();

        protected static void Release()
        {
            Native.Clear();
            MftClass.loadedCount = 0;
        }

        protected static uint Mount(string image)
        {
            string path = Volumes.Get(image);
            Skip.If(path == null, $"volume {image} is not available here");
            return Drives.Map(Letter, path);
        }
    }
}
