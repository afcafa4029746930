using System;
using System.Collections;
using System.Collections.Generic;
using System.Threading;

namespace Corvane
{
    /// <summary>
    /// The catalogue of one drive, held by Tarnwick until disposed:
    /// <code>
    /// using var catalogue = Catalogue.Load('C');
    /// foreach (CatalogueEntry entry in catalogue.Entries) { ... }
    /// </code>
    /// Failures throw <see cref="CatalogueException"/> with Tarnwick's status and its text.
    /// </summary>
    /// <remarks>
    /// Tarnwick holds one catalogue per process, so only one <see cref="Catalogue"/> can be open at a
    /// time: a second <see cref="Load(uint)"/> throws with status -100 ("error: size") until the first
    /// is disposed. Loads and disposals through this class are serialised; do not mix them with
    /// <see cref="MftClass"/> calls on other threads. <see cref="Entries"/> reads the library's entries
    /// in place, each access making a new <see cref="CatalogueEntry"/>; copy them (ToList) to keep
    /// them past <see cref="Dispose"/>.
    /// </remarks>
    public sealed class Catalogue : IDisposable
    {
        private const int AlreadyLoaded = -100;

        private static readonly object NativeCatalogue = new object();

        private readonly IntPtr[] entries;
        private int disposed;

        private Catalogue(IntPtr[] entries)
        {
            this.entries = entries;
            Entries = new EntryList(this);
        }

        /// <summary>Releases Tarnwick's catalogue if it was never disposed.</summary>
        ~Catalogue()
        {
            Release();
        }

        /// <summary>Every entry of the catalogue, in Tarnwick's order (by record number).</summary>
        public IReadOnlyList<CatalogueEntry> Entries { get; }

        /// <summary>Loads the catalogue of drive <paramref name="letter"/>, e.g. 'C'.</summary>
        /// <exception cref="CatalogueException">Tarnwick refused the load.</exception>
        public static Catalogue Load(char letter) => Load(Drives.DriveNumber(letter));

        /// <summary>Loads the catalogue of drive number <paramref name="drive"/> (0 is A:, 2 is C:).</summary>
        /// <exception cref="CatalogueException">Tarnwick refused the load.</exception>
        [CLSCompliant(false)]
        public static unsafe Catalogue Load(uint drive)
        {
            NativeMethods.RequireSupportedProcess();
            lock (NativeCatalogue)
            {
                ulong count = 0;
                int status = NativeMethods.LoadMft(drive, &count);
                if (status != 0)
                {
                    // A load that failed part-way leaves what it had added; nothing can reach it
                    // from here, so it goes, unless the refusal was for a catalogue still open.
                    if (status != AlreadyLoaded)
                    {
                        NativeMethods.Clear();
                    }

                    throw new CatalogueException(status);
                }

                var addresses = new IntPtr[checked((int)count)];
                fixed (IntPtr* first = addresses)
                {
                    status = NativeMethods.GetPointer((ResultRecord_Internal**)first);
                }

                if (status != 0)
                {
                    NativeMethods.Clear();
                    throw new CatalogueException(status);
                }

                // MftClass must not hand out the same catalogue a second time.
                MftClass.loadedCount = 0;
                return new Catalogue(addresses);
            }
        }

        /// <summary>Releases Tarnwick's catalogue; the entries are gone from here on.</summary>
        public void Dispose()
        {
            Release();
            GC.SuppressFinalize(this);
        }

        private void Release()
        {
            if (Interlocked.Exchange(ref disposed, 1) == 0)
            {
                lock (NativeCatalogue)
                {
                    NativeMethods.Clear();
                }
            }
        }

        private unsafe CatalogueEntry Read(int index)
        {
            if ((uint)index >= (uint)entries.Length)
            {
                throw new ArgumentOutOfRangeException(nameof(index));
            }

            if (Volatile.Read(ref disposed) != 0)
            {
                throw new ObjectDisposedException(nameof(Catalogue));
            }

            var record = default(ResultRecord);
            EntryReader.Read((byte*)entries[index], ref record);
            GC.KeepAlive(this);
            return new CatalogueEntry(record);
        }

        private sealed class EntryList : IReadOnlyList<CatalogueEntry>
        {
            private readonly Catalogue owner;

            internal EntryList(Catalogue owner) => this.owner = owner;

            public int Count => owner.entries.Length;

            public CatalogueEntry this[int index] => owner.Read(index);

            public IEnumerator<CatalogueEntry> GetEnumerator()
            {
                for (int i = 0; i < owner.entries.Length; i++)
                {
                    yield return owner.Read(i);
                }
            }

            IEnumerator IEnumerable.GetEnumerator() => GetEnumerator();
        }
    }
}
