using System;
using System.Collections.Generic;
using System.Linq;
using Xunit;

namespace Corvane.Tests
{
    /// <summary>
    /// The disposable catalogue object: the same entries as <see cref="MftClass"/> gives, its times as
    /// dates, its one exception type, and its hold on the process-wide native catalogue.
    /// </summary>
    public sealed class CatalogueObjectTests : LoadingTests
    {
        public static IEnumerable<object[]> Images => CatalogueTests.Images;

        [SkippableTheory]
        [MemberData(nameof(Images))]
        public void EntriesAreTheWrappersRecordsWithDates(string image)
        {
            uint drive = Mount(image);
            ulong count = 0;
            int status = MftClass.LoadMft(drive, ref count);
            if (status != 0)
            {
                // Volumes made to be refused: the object throws what the function returns.
                Release();
                var refused = Assert.Throws<CatalogueException>(() => Catalogue.Load(drive));
                Assert.Equal(status, refused.Status);
                Assert.Equal(MftClass.GetMftMessage(status), refused.StatusText);
                return;
            }

            var records = new ResultRecord[count];
            Assert.Equal(0, MftClass.GetMft(records));

            using var catalogue = Catalogue.Load(drive);
            Assert.Equal(records.Length, catalogue.Entries.Count);
            int i = 0;
            foreach (CatalogueEntry entry in catalogue.Entries)
            {
                ResultRecord r = records[i++];
                Assert.True(
                    entry.Id == r.id && entry.ParentId == r.parentId && entry.Name == r.name && entry.ParentName == r.parentName
                    && entry.Size == r.actualSize && entry.AllocatedSize == r.allocatedSize && entry.Flags == r.flag
                    && entry.CreationTime == CatalogueEntry.Time(r.creationTime)
                    && entry.ModificationTime == CatalogueEntry.Time(r.modificationTime)
                    && entry.RecordChangeTime == CatalogueEntry.Time(r.mftModificationTime)
                    && entry.AccessTime == CatalogueEntry.Time(r.accessTime),
                    $"entry {i - 1}: {entry} differs from the wrapper's record");
            }
        }

        [Fact]
        public void TimesOutsideWhatADateHoldsAreNull()
        {
            Assert.Null(CatalogueEntry.Time(0));
            Assert.Null(CatalogueEntry.Time(-1));
            Assert.Null(CatalogueEntry.Time(long.MinValue));
            Assert.Null(CatalogueEntry.Time(DateTime.MaxValue.ToFileTimeUtc() + 1));
            Assert.Equal(new DateTime(1601, 1, 1, 0, 0, 0, DateTimeKind.Utc).AddTicks(1), CatalogueEntry.Time(1));
            Assert.Equal(DateTime.MaxValue, CatalogueEntry.Time(DateTime.MaxValue.ToFileTimeUtc()));
            Assert.Equal(DateTimeKind.Utc, CatalogueEntry.Time(132_000_000_000_000_000)?.Kind);
        }

        [SkippableFact]
        public void OneCatalogueAtATimeAndNothingLeftAfterDispose()
        {
            uint drive = Mount(Volumes.Made);
            var first = Catalogue.Load(drive);
            CatalogueEntry kept = first.Entries[0];

            var refused = Assert.Throws<CatalogueException>(() => Catalogue.Load(drive));
            Assert.Equal(-100, refused.Status);
            Assert.Equal("error: size", refused.StatusText);
            // The wrapper's functions cannot take or free the catalogue the object holds.
            Assert.Equal(-100, MftClass.GetMft(new ResultRecord[first.Entries.Count]));
            Assert.Equal(kept.Name, first.Entries[0].Name);

            first.Dispose();
            first.Dispose();
            Assert.Throws<ObjectDisposedException>(() => first.Entries[0]);
            Assert.Throws<ObjectDisposedException>(() => first.Entries.First());
            Assert.Equal(-100, Native.Clear());

            using var second = Catalogue.Load(drive);
            Assert.Equal(first.Entries.Count, second.Entries.Count);
            Assert.Throws<ArgumentOutOfRangeException>(() => second.Entries[second.Entries.Count]);
        }

        [SkippableFact]
        public void FailedLoadThrowsTheStatusAndLeavesTheLibraryEmpty()
        {
            const char unmapped = 'Q';
            Skip.IfNot(string.IsNullOrEmpty(Environment.GetEnvironmentVariable("TARNWICK_DRIVE_" + unmapped)));

            var refused = Assert.Throws<CatalogueException>(() => Catalogue.Load(unmapped));
            Assert.Equal(MftClass.GetMftMessage(refused.Status), refused.StatusText);
            Assert.Contains(refused.StatusText, refused.Message);
            Assert.Equal(-100, Native.Clear());
        }

        [Fact]
        public void DriveLettersMapForTheNativeLibrary()
        {
            Assert.Equal(2u, Drives.DriveNumber('c'));
            Assert.Throws<ArgumentOutOfRangeException>(() => Drives.DriveNumber('1'));
            if (OperatingSystem.IsWindows())
            {
                Assert.Throws<PlatformNotSupportedException>(() => Drives.Map('T', "x"));
                return;
            }

            // A file that is not NTFS: the library opened it, so the mapping reached its getenv.
            string notNtfs = System.IO.Path.GetTempFileName();
            try
            {
                System.IO.File.WriteAllBytes(notNtfs, new byte[4096]);
                uint drive = Drives.Map('R', notNtfs);
                Assert.Equal(-107, Assert.Throws<CatalogueException>(() => Catalogue.Load(drive)).Status);
                Drives.Unmap('R');
                Assert.Equal(-103, Assert.Throws<CatalogueException>(() => Catalogue.Load(drive)).Status);
            }
            finally
            {
                System.IO.File.Delete(notNtfs);
            }
        }

        [Fact]
        public void A32BitProcessIsRefusedBeforeAnyNativeCall()
        {
            var refused = Assert.Throws<PlatformNotSupportedException>(() => NativeMethods.RequireSupportedProcess(4));
            Assert.Contains("64-bit", refused.Message);
            NativeMethods.RequireSupportedProcess(8);
        }
    }
}
