using System;

namespace Corvane
{
    /// <summary>
    /// One name of one file or directory, as the index of the directory that holds it records it.
    /// A file with hard links in several directories has one entry under each.
    /// </summary>
    public sealed class CatalogueEntry
    {
        private const int DirectoryFlag = 2;

        // NTFS ticks beyond this are past the end of DateTime (year 9999).
        private static readonly long LastRepresentableTicks = DateTime.MaxValue.ToFileTimeUtc();

        internal CatalogueEntry(in ResultRecord record)
        {
            Id = record.id;
            ParentId = record.parentId;
            Name = record.name;
            ParentName = record.parentName;
            AllocatedSize = record.allocatedSize;
            Size = record.actualSize;
            CreationTime = Time(record.creationTime);
            ModificationTime = Time(record.modificationTime);
            RecordChangeTime = Time(record.mftModificationTime);
            AccessTime = Time(record.accessTime);
            Flags = record.flag;
        }

        /// <summary>The entry's own file record number (low 32 bits of its file reference).</summary>
        public int Id { get; }

        /// <summary>The record number of the directory that holds the name.</summary>
        public int ParentId { get; }

        /// <summary>The name (the long name where NTFS also keeps a DOS name).</summary>
        public string Name { get; }

        /// <summary>The name of the directory that holds it; "." for the root.</summary>
        public string ParentName { get; }

        /// <summary>Data size in bytes.</summary>
        public long Size { get; }

        /// <summary>Bytes allocated on the volume.</summary>
        public long AllocatedSize { get; }

        /// <summary>Creation time in UTC; null when the volume holds none (0) or one no <see cref="DateTime"/> can hold.</summary>
        public DateTime? CreationTime { get; }

        /// <summary>Last write time in UTC, or null.</summary>
        public DateTime? ModificationTime { get; }

        /// <summary>Last change of the file record in UTC, or null.</summary>
        public DateTime? RecordChangeTime { get; }

        /// <summary>Last access time in UTC, or null.</summary>
        public DateTime? AccessTime { get; }

        /// <summary>The file record's flags as the volume holds them: bit 0 in use, bit 1 directory.</summary>
        public int Flags { get; }

        /// <summary>Whether the entry is a directory.</summary>
        public bool IsDirectory => (Flags & DirectoryFlag) != 0;

        /// <inheritdoc/>
        public override string ToString() => $"{ParentName}/{Name} (#{Id})";

        internal static DateTime? Time(long ntfsTicks) =>
            ntfsTicks > 0 && ntfsTicks <= LastRepresentableTicks ? DateTime.FromFileTimeUtc(ntfsTicks) : (DateTime?)null;
    }
}
